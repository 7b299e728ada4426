// The Python module `zema`: designs read by the command's own readers or
// built by hand, converted by the library exactly as `zema convert` does,
// with the map, checks and explanations of the names engine as Python
// objects.
//
// A Design is records while it is built and a host design once it is first
// used (converted or iterated); from then on it cannot change. A Converter
// keeps its Design alive, and an iterator its Converter, so no Python object
// can outlive what it reads; a Converter keeps what it computed (the
// original names, the name index, the explainer) for the calls after.
//
// The library and the reference host are not thread-safe: every call into
// them holds one lock, and so does every change to a design being built and
// the destruction of whatever holds library memory, whichever thread drops
// the last reference. Work that can take long (reading, init, the map,
// checks, explanations) runs with the GIL released, and nothing ever waits
// for the GIL while it holds that lock: errors are carried out of the locked
// part and raised after it, so two threads can never wait on each other. No
// Python code runs under the lock: arguments are turned into C++ values
// first. The lock is recursive, so that a destructor that runs inside locked
// work takes it again.
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <structmember.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "atm/zema/zema_version.h"
#include "host/zema_host.h"
#include "tools/names/checker.h"
#include "tools/names/conversion.h"
#include "tools/names/design_names.h"
#include "tools/names/design_source.h"
#include "tools/names/differ.h"
#include "tools/names/explainer.h"
#include "tools/names/name_index.h"
#include "tools/names/name_map.h"
#include "tools/names/original_names.h"
#include "tools/names/text_translator.h"
#include "tools/support/output_buffer.h"
#include "tools/support/tool_error.h"

namespace py = pybind11;
using namespace zema_tool;

namespace {

// Every call into the library or the host holds it.
std::recursive_mutex g_library;
typedef std::lock_guard<std::recursive_mutex> LIBRARY_LOCK;

// zema.DesignError, set when the module is made.
PyObject* g_design_error = nullptr;

// Lets the GIL go for its scope. Python ends a daemon thread that asks for
// the GIL back while the interpreter is finalizing with pthread_exit, whose
// unwinding must not reach a noexcept frame (pybind11's guard: the whole
// process aborts at its exit) nor pybind11's own handler (which rethrows it
// through a null reference). It stops here instead: the thread may not run
// Python again, and waits for the process to end.
class GIL_RELEASE {
 public:
  GIL_RELEASE() : m_thread(PyEval_SaveThread()) {}
  ~GIL_RELEASE() {
    try {
      PyEval_RestoreThread(m_thread);
    } catch (...) {
      for (;;) pause();
    }
  }
  GIL_RELEASE(GIL_RELEASE const&) = delete;
  GIL_RELEASE& operator=(GIL_RELEASE const&) = delete;

 private:
  PyThreadState* m_thread;
};

// Runs `work` without the GIL and under the library lock. Whatever it
// throws is rethrown once both are given back, with the GIL held, for the
// module's translator to raise.
template <class WORK>
void run_unlocked(WORK&& work) {
  std::exception_ptr failure;
  {
    GIL_RELEASE const release;
    LIBRARY_LOCK const lock(g_library);
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// --- Arguments ---------------------------------------------------------------

// A text that becomes a name, a type, a path or a lookup: U+0000 would end
// it early wherever it is kept as a C string.
std::string text_argument(py::handle value, char const* what) {
  std::string text;
  if (py::isinstance<py::str>(value)) {
    // A str that UTF-8 cannot hold (a lone surrogate) raises its own
    // UnicodeEncodeError.
    Py_ssize_t size = 0;
    char const* const data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
    if (data == nullptr) throw py::error_already_set();
    text.assign(data, static_cast<std::size_t>(size));
  } else if (py::isinstance<py::bytes>(value)) {
    text = value.cast<std::string>();
  } else {
    throw py::type_error(std::string(what) + " must be a str, not " +
                         py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>());
  }
  if (text.find('\0') != std::string::npos) {
    throw py::value_error(std::string(what) + " must not contain the character U+0000");
  }
  return text;
}

// A name that a design keeps: a str only, as every reader takes names as
// UTF-8 text, so that what is built can be read and written back.
std::string name_argument(py::handle value) {
  if (!py::isinstance<py::str>(value)) {
    throw py::type_error("a name must be a str, not " +
                         py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>());
  }
  return text_argument(value, "a name");
}

// A path (str, bytes or os.PathLike) as the file system's bytes: a name
// that is not UTF-8 comes as os.fsdecode gives it and goes back whole.
std::string path_argument(py::handle value) {
  py::module_ const os = py::module_::import("os");
  return text_argument(os.attr("fsencode")(os.attr("fspath")(value)), "a path");
}

// An integer argument in [least, most]: ValueError outside, TypeError for a
// value that is no integer.
std::uint64_t integer_argument(py::handle value, char const* what, std::uint64_t least,
                               std::uint64_t most) {
  if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value)) {
    throw py::type_error(std::string(what) + " must be an integer");
  }
  int overflow = 0;
  long long const number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow != 0 || number < 0 || static_cast<std::uint64_t>(number) < least ||
      static_cast<std::uint64_t>(number) > most) {
    throw py::value_error(std::string(what) + " must be from " + std::to_string(least) + " to " +
                          std::to_string(most) + ", got " + py::repr(value).cast<std::string>());
  }
  return static_cast<std::uint64_t>(number);
}

// A position in a sequence of `size`: IndexError outside it.
std::size_t index_argument(py::handle value, char const* what, std::size_t size) {
  if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value)) {
    throw py::type_error(std::string(what) + " must be an integer");
  }
  int overflow = 0;
  long long const number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow != 0 || number < 0 || static_cast<unsigned long long>(number) >= size) {
    throw py::index_error(std::string(what) + " out of range");
  }
  return static_cast<std::size_t>(number);
}

// --- Designs ---------------------------------------------------------------

struct DESIGN_STATE {
  DESIGN_STATE() = default;
  DESIGN_STATE(DESIGN_STATE const&) = delete;
  DESIGN_STATE& operator=(DESIGN_STATE const&) = delete;
  ~DESIGN_STATE() {
    LIBRARY_LOCK const lock(g_library);
    m_originals.reset();
    m_loaded.reset();
  }

  DESIGN_RECORDS m_records;                     // while the design is built
  std::vector<std::uint32_t> m_child_count;     // per record: children added so far
  std::vector<std::uint32_t> m_depth;           // per hierarchy record: its level, root 0
  std::vector<std::uint32_t> m_ids;             // per record, once built
  KEPT_PTR<LOADED_DESIGN> m_loaded;             // once built
  std::vector<CDB_ATOM_NODE*> m_atoms;          // netlist order, once built
  std::unique_ptr<ORIGINAL_NAMES> m_originals;  // made on first need
  std::atomic<bool> m_built{false};             // m_loaded is set, for good

  bool built() const { return m_built.load(std::memory_order_acquire); }

  // Checks and builds the host design; the records' ids stay readable. Of
  // two threads that ask at once, the second finds it built.
  void build() {
    if (built()) return;
    run_unlocked([&] {
      if (built()) return;
      m_records.resolve();
      adopt(std::move(m_records));
    });
  }

  // Under the library lock.
  void adopt(DESIGN_RECORDS&& records) {
    m_ids.clear();
    for (NAME_RECORD const& name : records.m_names) m_ids.push_back(name.m_id);
    PHASES phases(false, false);
    m_loaded = build_loaded(std::move(records), phases, false);
    CDB_ATOM_NETLIST* const netlist = m_loaded->m_design.netlist();
    for (CDB_ATOM_NODE_LINK* link = netlist->begin_node_list(); link != netlist->end_node_list();
         link = link->m_next) {
      m_atoms.push_back(link->m_node);
    }
    m_built.store(true, std::memory_order_release);
  }

  // Under the library lock.
  ORIGINAL_NAMES& originals() {
    if (!m_originals) m_originals = std::make_unique<ORIGINAL_NAMES>(*m_loaded);
    return *m_originals;
  }

  void expect_building() const {
    if (built()) {
      throw py::value_error(
          "the design is in use (converted or iterated) and can no longer change");
    }
  }
};

// An instance of a design built by hand: its record.
struct INSTANCE {
  std::shared_ptr<DESIGN_STATE> m_design;
  std::uint32_t m_record;
};

// One atom of a built design, by its place in the netlist.
struct ATOM {
  std::shared_ptr<DESIGN_STATE> m_design;
  std::size_t m_index;
};

class DESIGN {
 public:
  DESIGN() : m_state(std::make_shared<DESIGN_STATE>()) {
    m_state->m_records.add_name(NAME_HIERARCHY, kNoRecord, 0, 0, 0, false);
    m_state->m_child_count.push_back(0);
    m_state->m_depth.push_back(0);
  }
  explicit DESIGN(std::shared_ptr<DESIGN_STATE> state) : m_state(std::move(state)) {}

  INSTANCE root() const { return INSTANCE{m_state, 0}; }

  INSTANCE add_instance(INSTANCE const& parent, py::handle unit_name, py::handle id) {
    std::string const text = name_argument(unit_name);
    if (parent.m_design != m_state) throw py::value_error("the parent belongs to another design");
    std::optional<std::uint64_t> declared;
    if (!id.is_none()) {
      declared = integer_argument(id, "an id", 0, kMaxId);
      if (*declared == 0) {
        PyErr_SetString(g_design_error, "a declared id must not be 0");
        throw py::error_already_set();
      }
    }
    LIBRARY_LOCK const lock(g_library);
    m_state->expect_building();
    DESIGN_RECORDS& records = m_state->m_records;
    if (records.m_names.size() >= kMaxId) throw py::value_error("too many instance names");
    // As deep as a design file may go, so that every call on the design
    // stays as cheap as it is for one that was read.
    std::uint32_t const depth = m_state->m_depth[parent.m_record] + 1;
    if (depth > kMaxHierarchyLevels) {
      PyErr_SetString(g_design_error, ("the hierarchy is deeper than " +
                                       std::to_string(kMaxHierarchyLevels) + " levels")
                                          .c_str());
      throw py::error_already_set();
    }
    std::uint32_t const position = m_state->m_child_count[parent.m_record]++;
    std::uint32_t const record =
        records.add_name(NAME_HIERARCHY, parent.m_record, position, records.add_text(text),
                         declared.value_or(0), declared.has_value());
    m_state->m_child_count.push_back(0);
    m_state->m_depth.push_back(depth);
    return INSTANCE{m_state, record};
  }

  // An atom named by an instance, a new name outside the hierarchy (text) or
  // nothing; its oterms likewise, None for a null oterm entry.
  std::size_t add_atom(py::handle name, py::handle atom_type, py::sequence const& oterms) {
    int const type = type_of(atom_type);
    // A text is a sequence too, of its characters: "abc" would make three
    // oterms where one named "abc" was meant.
    if (py::isinstance<py::str>(oterms) || py::isinstance<py::bytes>(oterms)) {
      throw py::type_error("oterms must be a sequence of names, not a single name");
    }
    // The references are taken and checked before any record is added, so
    // that a refused atom leaves the design as it was, and before the lock:
    // a sequence's own code may run here, even code that adds to the design.
    std::vector<py::object> const given(oterms.begin(), oterms.end());
    REFERENCE const own = reference_of(name);
    std::vector<REFERENCE> references;
    references.reserve(given.size());
    for (py::handle oterm : given) references.push_back(reference_of(oterm));
    LIBRARY_LOCK const lock(g_library);
    m_state->expect_building();
    DESIGN_RECORDS& records = m_state->m_records;
    std::uint32_t const index = static_cast<std::uint32_t>(records.m_atoms.size());
    ATOM_RECORD atom{add_reference(own, index, kNoRecord, false),
                     static_cast<std::uint32_t>(records.m_oterms.size()), type};
    for (std::size_t position = 0; position < references.size(); ++position) {
      records.m_oterms.push_back(
          add_reference(references[position], index, static_cast<std::uint32_t>(position), true));
    }
    records.m_atoms.push_back(atom);
    return index;
  }

  std::shared_ptr<DESIGN_STATE> const& state() const { return m_state; }

 private:
  static int type_of(py::handle type) {
    int number = -1;
    if (py::isinstance<py::int_>(type) && !py::isinstance<py::bool_>(type)) {
      number = static_cast<int>(integer_argument(type, "an atom type", 0, 49));
    } else if (py::isinstance<py::str>(type)) {
      number = zema_host::atom_type_from_name(text_argument(type, "an atom type").c_str());
    } else {
      throw py::type_error("an atom type must be a str or an int, not " +
                           py::str(py::type::handle_of(type).attr("__name__")).cast<std::string>());
    }
    if (number < 0 || number >= 50) {
      throw py::value_error("unknown atom type " + py::repr(type).cast<std::string>());
    }
    return number;
  }

  // An atom's or oterm's name as given: none, an instance's record, or the
  // text of a new name.
  struct REFERENCE {
    enum { NONE, INSTANCE_RECORD, TEXT } m_kind;
    std::uint32_t m_record;
    std::string m_text;
  };

  REFERENCE reference_of(py::handle name) const {
    if (name.is_none()) return REFERENCE{REFERENCE::NONE, 0, std::string()};
    if (py::isinstance<INSTANCE>(name)) {
      INSTANCE const& instance = name.cast<INSTANCE const&>();
      if (instance.m_design != m_state) throw py::value_error("the name belongs to another design");
      return REFERENCE{REFERENCE::INSTANCE_RECORD, instance.m_record, std::string()};
    }
    if (!py::isinstance<py::str>(name)) {
      throw py::type_error("a name must be an Instance, a str or None");
    }
    return REFERENCE{REFERENCE::TEXT, 0, name_argument(name)};
  }

  // Under the library lock.
  REF add_reference(REFERENCE const& name, std::uint32_t atom, std::uint32_t oterm,
                    bool null_oterm) {
    if (name.m_kind == REFERENCE::NONE) return REF{0, null_oterm ? REF_NULL_OTERM : REF_NONE};
    if (name.m_kind == REFERENCE::INSTANCE_RECORD) return REF{name.m_record, REF_RECORD};
    DESIGN_RECORDS& records = m_state->m_records;
    std::uint32_t const record =
        records.add_name(NAME_NETLIST, oterm, atom, records.add_text(name.m_text), 0, false);
    m_state->m_child_count.push_back(0);
    m_state->m_depth.push_back(0);
    return REF{record, REF_RECORD};
  }

  std::shared_ptr<DESIGN_STATE> m_state;
};

READ_OPTIONS read_options(py::handle input_format, py::handle top, py::handle liberty,
                          py::handle unknown_cells) {
  READ_OPTIONS options;
  if (!input_format.is_none()) {
    std::optional<INPUT_FORMAT> const format =
        value_of(kInputFormatWords, text_argument(input_format, "input_format"));
    if (!format) {
      throw py::value_error("input_format must be None or " + word_choices(kInputFormatWords));
    }
    options.m_format = *format;
  }
  if (!top.is_none()) options.m_top = text_argument(top, "top");
  // One path, or a sequence of them.
  if (!liberty.is_none()) {
    if (py::isinstance<py::str>(liberty) || py::isinstance<py::bytes>(liberty) ||
        py::hasattr(liberty, "__fspath__")) {
      options.m_liberty.push_back(path_argument(liberty));
    } else {
      for (py::handle const path : liberty) options.m_liberty.push_back(path_argument(path));
    }
  }
  if (!unknown_cells.is_none()) {
    std::optional<UNKNOWN_CELLS> const policy =
        value_of(kUnknownCellsWords, text_argument(unknown_cells, "unknown_cells"));
    if (!policy) {
      throw py::value_error("unknown_cells must be None or " + word_choices(kUnknownCellsWords));
    }
    options.m_unknown_cells = *policy;
  }
  return options;
}

// Says each of a reader's warnings as a Python UserWarning, as the command
// prints its warning line.
void warn(std::vector<std::string> const& warnings) {
  for (std::string const& warning : warnings) {
    // Level 1 is the caller's line: this function is not a Python frame.
    if (PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 1) != 0) throw py::error_already_set();
  }
}

DESIGN read_design(py::object const& source, py::handle input_format, py::handle top,
                   py::handle liberty, py::handle unknown_cells) {
  READ_OPTIONS const options = read_options(input_format, top, liberty, unknown_cells);
  // A netlist said to be Verilog may start with any text.
  bool const any_text = options.m_format == INPUT_FORMAT::VERILOG;
  auto state = std::make_shared<DESIGN_STATE>();
  std::vector<std::string> warnings;
  if (py::isinstance<py::bytes>(source)) {
    std::string const bytes = source.cast<std::string>();
    run_unlocked([&] {
      DESIGN_RECORDS records;
      read_records(INPUT_TEXT::from_bytes(bytes, "<bytes>", options.m_max_input_size, any_text),
                   options, &records);
      warnings = std::move(records.m_warnings);
      state->adopt(std::move(records));
    });
    warn(warnings);
    return DESIGN(state);
  }
  std::string path = path_argument(source);
  // The readers take "-" for standard input; here it is a file of that name.
  if (path == "-") path = "./-";
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) {
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
  }
  run_unlocked([&] {
    DESIGN_RECORDS records;
    read_records(INPUT_TEXT::read(path, options.m_max_input_size, any_text), options, &records);
    warnings = std::move(records.m_warnings);
    state->adopt(std::move(records));
  });
  warn(warnings);
  return DESIGN(state);
}

// --- Rows ------------------------------------------------------------------

// Struct sequences (named tuples made in C) with namedtuple's _fields and
// _asdict, so that pandas and csv take them as they take namedtuples.
PyTypeObject* g_row_type = nullptr;
PyTypeObject* g_map_row_type = nullptr;

PyTypeObject* make_row_type(char const* name, char const* doc,
                            std::vector<char const*> const& fields) {
  static std::vector<std::unique_ptr<std::vector<PyStructSequence_Field>>> kept;
  kept.push_back(std::make_unique<std::vector<PyStructSequence_Field>>());
  std::vector<PyStructSequence_Field>& list = *kept.back();
  for (char const* field : fields) list.push_back({field, nullptr});
  list.push_back({nullptr, nullptr});
  static std::vector<std::unique_ptr<PyStructSequence_Desc>> descs;
  descs.push_back(std::make_unique<PyStructSequence_Desc>(
      PyStructSequence_Desc{name, doc, list.data(), static_cast<int>(fields.size())}));
  PyTypeObject* const type = PyStructSequence_NewType(descs.back().get());
  if (type == nullptr) throw py::error_already_set();
  py::tuple names(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) names[i] = py::str(fields[i]);
  py::setattr(reinterpret_cast<PyObject*>(type), "_fields", names);
  return type;
}

// A struct sequence of `type` holding `items`.
py::object make_row(PyTypeObject* type, std::initializer_list<py::object> items) {
  PyObject* const tuple = PyStructSequence_New(type);
  if (tuple == nullptr) throw py::error_already_set();
  Py_ssize_t position = 0;
  for (py::object const& item : items) {
    PyStructSequence_SetItem(tuple, position++, item.inc_ref().ptr());
  }
  return py::reinterpret_steal<py::object>(tuple);
}

py::object text_or_none(std::optional<std::string> const& text) {
  return text ? py::object(py::str(*text)) : py::none();
}

// One row of `zema convert`, as data.
struct CONVERT_ROW {
  bool m_oterm;
  std::string m_index;
  std::optional<unsigned> m_id;
  std::optional<std::string> m_unit;
  std::optional<std::string> m_full;
};

// One row of `zema map`, as data.
struct MAP_ROW_DATA {
  unsigned m_id;
  std::string m_converted;
  MAP_KIND m_kind;
  ORIGIN m_origin;
  std::optional<std::string> m_original;
};

// --- Converters --------------------------------------------------------------

struct CONVERTER_STATE {
  CONVERTER_STATE() = default;
  CONVERTER_STATE(CONVERTER_STATE const&) = delete;
  CONVERTER_STATE& operator=(CONVERTER_STATE const&) = delete;
  ~CONVERTER_STATE() {
    LIBRARY_LOCK const lock(g_library);
    m_explainer.reset();
    m_source.reset();
    m_original_index.reset();
    m_index.reset();
    m_conversion.reset();
    GEN_STRING().swap(m_text);
    m_design.reset();
  }

  std::shared_ptr<DESIGN_STATE> m_design;
  PHASES m_phases{false, false};
  std::unique_ptr<CONVERSION> m_conversion;
  ZEMA_NAME_CONVERTER_ENUM m_strategy;
  GEN_STRING m_text;
  std::unique_ptr<NAME_INDEX> m_index;           // made on first need, with the explainer
  std::unique_ptr<NAME_INDEX> m_original_index;  // converted to original: made by translate
  std::unique_ptr<NAME_SOURCE> m_source;
  std::unique_ptr<EXPLAINER> m_explainer;
  std::size_t m_rows = SIZE_MAX;  // counted on first need

  // Under the library lock.
  EXPLAINER& explainer() {
    if (!m_explainer) {
      m_source =
          conversion_source(*m_conversion, m_design->originals(), [this]() -> NAME_INDEX const& {
            if (!m_index) {
              m_index =
                  std::make_unique<NAME_INDEX>(*m_conversion, m_design->originals(), TO_CONVERTED);
            }
            return *m_index;
          });
      m_explainer = std::make_unique<EXPLAINER>(*m_source);
    }
    return *m_explainer;
  }
};

// Rows made a batch at a time without the GIL, then turned into Python
// objects with it: the iterators of rows() and map().
template <class DATA>
class BATCH_ITERATOR {
 public:
  typedef std::function<bool(std::vector<DATA>*)> FILL;  // false once exhausted
  typedef py::object (*MAKE)(DATA const&);

  BATCH_ITERATOR(std::shared_ptr<CONVERTER_STATE> state, FILL fill, MAKE make)
      : m_state(std::move(state)), m_fill(std::move(fill)), m_make(make) {}
  BATCH_ITERATOR(BATCH_ITERATOR&&) noexcept = default;
  // What the filling function holds (a map's cursor) and the converter may
  // be the library's last memory: freed under the lock.
  ~BATCH_ITERATOR() {
    LIBRARY_LOCK const lock(g_library);
    m_fill = nullptr;
    m_state.reset();
  }

  // Called with the GIL held. While one thread fills the next batch without
  // the GIL, another that asks for a row is refused, as a generator that is
  // already running refuses.
  py::object next() {
    if (m_filling) throw py::value_error("the iterator is already in use by another thread");
    if (m_next == m_batch.size()) {
      m_batch.clear();
      m_next = 0;
      if (!m_done) {
        m_filling = true;
        try {
          run_unlocked([&] { m_done = !m_fill(&m_batch); });
        } catch (...) {
          m_filling = false;
          throw;
        }
        m_filling = false;
      }
    }
    if (m_next == m_batch.size()) throw py::stop_iteration();
    return m_make(m_batch[m_next++]);
  }

 private:
  std::shared_ptr<CONVERTER_STATE> m_state;  // keeps the converter alive
  FILL m_fill;
  MAKE m_make;
  std::vector<DATA> m_batch;
  std::size_t m_next = 0;
  bool m_done = false;
  bool m_filling = false;
};

typedef BATCH_ITERATOR<CONVERT_ROW> ROW_ITERATOR;
typedef BATCH_ITERATOR<MAP_ROW_DATA> MAP_ITERATOR;

constexpr std::size_t kBatchAtoms = 1024;
constexpr std::size_t kBatchMapRows = 4096;

py::object make_convert_row(CONVERT_ROW const& row) {
  static py::str const kAtom("atom");
  static py::str const kOterm("oterm");
  py::object id = row.m_id ? py::object(py::int_(*row.m_id)) : py::none();
  return make_row(g_row_type, {row.m_oterm ? kOterm : kAtom, py::str(row.m_index), id,
                               text_or_none(row.m_unit), text_or_none(row.m_full)});
}

py::object make_map_row(MAP_ROW_DATA const& row) {
  // Kinds and origins are a few words: one object each, shared by every row.
  static std::vector<py::str> const kKinds = [] {
    std::vector<py::str> words;
    for (auto const& word : kMapKindWords) words.emplace_back(word.m_text);
    return words;
  }();
  static std::vector<py::str> const kOrigins = [] {
    std::vector<py::str> words;
    for (auto const& word : kOriginWords) words.emplace_back(word.m_text);
    return words;
  }();
  return make_row(
      g_map_row_type,
      {py::int_(row.m_id), py::str(row.m_converted), kKinds[static_cast<std::size_t>(row.m_kind)],
       kOrigins[static_cast<std::size_t>(row.m_origin)], text_or_none(row.m_original)});
}

// The violations of a check as the objects of `zema check --format json`.
py::dict violation_object(VIOLATION const& v) {
  py::dict object;
  object["kind"] = word_of(kViolationWords, v.m_kind);
  object[v.m_kind == VIOLATION_KIND::UNNAMED ? "row" : "name"] = v.m_name;
  if (v.m_kind == VIOLATION_KIND::ILLEGAL) object["id"] = v.m_id;
  if (v.m_kind == VIOLATION_KIND::DUPLICATE) {
    object["ids"] = py::make_tuple(v.m_id, v.m_other);
    object["among_siblings"] = v.m_among_siblings;
  }
  if (v.m_kind == VIOLATION_KIND::MISMATCH) {
    object["expected"] = v.m_id;
    object["found"] = v.m_other;
  }
  return object;
}

// What `zema check` finds.
struct CHECK_ANSWER {
  std::string m_strategy;
  CHECK_RESULT m_result;
  py::list violations() const {
    py::list list;
    for (VIOLATION const& v : m_result.m_violations) list.append(violation_object(v));
    return list;
  }
};

// An explanation's original: empty where the name has none, None here as
// null in the command's JSON.
py::object original_or_none(std::string const& original) {
  return original.empty() ? py::object(py::none()) : py::object(py::str(original));
}

py::dict level_object(EXPLAINED_LEVEL const& level) {
  py::dict object;
  object["segment"] = level.m_segment;
  object["origin"] = level.m_hierarchy ? "hierarchy" : "made-up";
  if (level.m_hierarchy) {
    object["unit"] = level.m_unit;
    py::list changes;
    for (LEGAL_CHANGE const& change : level.m_changes) {
      py::dict entry;
      entry["rule"] = word_of(kLegalRuleWords, change.m_rule);
      entry["at"] = change.m_at;
      entry["from"] = change.m_from;
      changes.append(entry);
    }
    object["changes"] = changes;
  } else {
    object["rule"] = word_of(kMadeUpRuleWords, level.m_rule);
    if (level.m_rule != MADE_UP_RULE::SUPERSEDED) {
      object["stem"] = level.m_stem;
      object["from"] = level.m_from;
    }
  }
  object["base"] = level.m_base;
  object["suffix"] = level.m_suffix < 0 ? py::object(py::none()) : py::int_(level.m_suffix);
  py::list held;
  for (HOLDER const& holder : level.m_holders) {
    py::dict entry;
    entry["segment"] = holder.m_segment;
    entry["id"] = holder.m_id;
    entry["original"] = original_or_none(holder.m_original);
    entry["origin"] = holder.m_hierarchy ? "hierarchy" : "made-up";
    held.append(entry);
  }
  object["held_by"] = held;
  return object;
}

// An explanation as the object of `zema explain --format json`.
py::dict explanation_object(std::string const& name, EXPLANATION const& explanation) {
  py::dict object;
  object["name"] = name;
  object["found"] = true;
  object["converted"] = explanation.m_converted;
  object["id"] = explanation.m_id;
  object["original"] = original_or_none(explanation.m_original);
  py::list levels;
  for (EXPLAINED_LEVEL const& level : explanation.m_levels) levels.append(level_object(level));
  object["levels"] = levels;
  return object;
}

// --- Texts -------------------------------------------------------------------------

PyTypeObject* g_text_report_type = nullptr;

// How a text is read and written: its syntax, separator and the fewest
// levels of a name, from the keyword arguments.
struct TEXT_CHOICES {
  SYNTAX m_syntax = SYNTAX::TEXT;
  TRANSLATION_OPTIONS m_options;
};

TEXT_CHOICES text_choices(py::handle syntax, py::handle separator, py::handle levels) {
  TEXT_CHOICES choices;
  std::optional<SYNTAX> const chosen = value_of(kSyntaxWords, text_argument(syntax, "syntax"));
  if (!chosen || *chosen == SYNTAX::AUTO) {
    throw py::value_error("syntax must be text, tcl or spef");
  }
  choices.m_syntax = *chosen;
  std::optional<char> const joined =
      value_of(kSeparatorWords, text_argument(separator, "separator"));
  if (!joined) throw py::value_error("separator must be " + word_choices(kSeparatorWords));
  choices.m_options.m_separator = *joined;
  choices.m_options.m_levels =
      static_cast<std::size_t>(integer_argument(levels, "levels", 1, UINT32_MAX));
  return choices;
}

// UTF-8 bytes as a str, with bytes that are not UTF-8 as surrogate escapes.
py::object escaped_str(std::string const& text) {
  PyObject* const decoded =
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(decoded);
}

// `text` (str or bytes) rewritten, of the same type, and the words
// reported, in the text's order, as TextReport rows. A str comes back with
// names that are not UTF-8 as surrogate escapes. Without the GIL, under the
// library lock, with_lookup(use) makes the lookup and calls use(lookup).
template <class WITH_LOOKUP>
py::tuple translate_text(py::handle text, TEXT_CHOICES const& choices, WITH_LOOKUP&& with_lookup) {
  bool const bytes = py::isinstance<py::bytes>(text);
  if (!bytes && !py::isinstance<py::str>(text)) {
    throw py::type_error("a text must be a str or bytes, not " +
                         py::str(py::type::handle_of(text).attr("__name__")).cast<std::string>());
  }
  std::string input;
  if (bytes) {
    input = std::string(text.cast<py::bytes>());
  } else {
    Py_ssize_t size = 0;
    char const* const data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (data == nullptr) throw py::error_already_set();
    input.assign(data, static_cast<std::size_t>(size));
  }
  struct REPORTED {
    std::uint64_t m_line;
    std::uint64_t m_column;
    std::string m_word;
    UNKNOWN_PROBLEM m_problem;
  };
  std::vector<REPORTED> reported;
  std::string output;
  run_unlocked([&] {
    with_lookup([&](NAME_LOOKUP const& lookup) {
      TEXT_TRANSLATOR translator(lookup, choices.m_options, [&](UNKNOWN_WORD const& word) {
        reported.push_back({word.m_line, word.m_column, std::string(word.m_word), word.m_problem});
      });
      translator.set_syntax(choices.m_syntax);
      output = written_text([&](OUTPUT_BUFFER& out) { translator.put(input, true, out); });
    });
  });
  py::list reports;
  for (REPORTED const& report : reported) {
    reports.append(
        make_row(g_text_report_type,
                 {py::int_(report.m_line), py::int_(report.m_column), escaped_str(report.m_word),
                  py::str(word_of(kUnknownProblemWords, report.m_problem))}));
  }
  return py::make_tuple(bytes ? py::object(py::bytes(output)) : escaped_str(output), reports);
}

class CONVERTER {
 public:
  CONVERTER(DESIGN const& design, py::handle strategy)
      : m_state(std::make_shared<CONVERTER_STATE>()) {
    std::optional<ZEMA_NAME_CONVERTER_ENUM> const chosen =
        value_of(kStrategyWords, text_argument(strategy, "strategy"));
    if (!chosen) throw py::value_error("strategy must be " + word_choices(kStrategyWords));
    m_state->m_strategy = *chosen;
    m_state->m_design = design.state();
    m_state->m_design->build();
    run_unlocked([&] {
      zema_host::clear_internal_errors();
      m_state->m_conversion = std::make_unique<CONVERSION>(*m_state->m_design->m_loaded,
                                                           m_state->m_strategy, m_state->m_phases);
    });
  }

  ROW_ITERATOR rows() const {
    CDB_ATOM_NODE_LINK* link = m_state->m_design->m_loaded->m_design.netlist()->begin_node_list();
    std::size_t atom = 0;
    CONVERTER_STATE* const state = m_state.get();
    return ROW_ITERATOR(
        m_state,
        [state, link, atom](std::vector<CONVERT_ROW>* batch) mutable {
          CDB_ATOM_NETLIST* const netlist = state->m_design->m_loaded->m_design.netlist();
          if (link == netlist->end_node_list()) return false;
          ZEMA_NAME_CONVERTER& converter = state->m_conversion->converter();
          link = state->m_conversion->for_each_row_from(
              link, atom, kBatchAtoms,
              [&](ROW const& row) {
                HDB_INSTANCE_NAME const* const name = row.name();
                CONVERT_ROW data{row.is_oterm(), row_index(row.m_atom_index, row.m_position),
                                 std::nullopt, std::nullopt, std::nullopt};
                if (name != nullptr) data.m_id = id_of(name);
                if (row.unit(converter, &state->m_text)) data.m_unit.emplace(state->m_text.c_str());
                if (row.full(converter, &state->m_text)) data.m_full.emplace(state->m_text.c_str());
                batch->push_back(std::move(data));
              },
              true);
          atom += kBatchAtoms;
          return true;
        },
        &make_convert_row);
  }

  MAP_ITERATOR map() const {
    auto cursor = std::make_shared<std::unique_ptr<NAME_MAP_CURSOR>>();
    CONVERTER_STATE* const state = m_state.get();
    return MAP_ITERATOR(
        m_state,
        [state, cursor](std::vector<MAP_ROW_DATA>* batch) {
          if (!*cursor) {
            *cursor = std::make_unique<NAME_MAP_CURSOR>(*state->m_conversion,
                                                        state->m_design->originals());
          }
          for (std::size_t i = 0; i < kBatchMapRows; ++i) {
            MAP_ROW const* const row = (*cursor)->next();
            if (row == nullptr) return false;
            batch->push_back({row->m_id, std::string(row->m_converted), row->m_kind, row->m_origin,
                              row->m_original
                                  ? std::optional<std::string>(std::string(*row->m_original))
                                  : std::nullopt});
          }
          return true;
        },
        &make_map_row);
  }

  py::object unit_name(py::handle atom, py::handle oterm) {
    LIBRARY_LOCK const lock(g_library);
    ROW const row = row_of(atom, oterm);
    return text_or_none(row.unit(converter(), &m_state->m_text)
                            ? std::optional<std::string>(m_state->m_text.c_str())
                            : std::nullopt);
  }

  py::object full_name(py::handle atom, py::handle oterm) {
    LIBRARY_LOCK const lock(g_library);
    ROW const row = row_of(atom, oterm);
    return text_or_none(row.full(converter(), &m_state->m_text)
                            ? std::optional<std::string>(m_state->m_text.c_str())
                            : std::nullopt);
  }

  std::optional<unsigned> lookup(py::handle name) {
    std::string const text = text_argument(name, "a name");
    LIBRARY_LOCK const lock(g_library);
    unsigned const id = converter().get_original_name_id(text.c_str());
    if (id == 0) return std::nullopt;
    return id;
  }

  CHECK_ANSWER check() {
    CHECK_ANSWER answer;
    answer.m_strategy = word_of(kStrategyWords, m_state->m_strategy);
    run_unlocked([&] { answer.m_result = check_names(*m_state->m_conversion); });
    return answer;
  }

  py::object explain(py::handle name) {
    if (m_state->m_strategy != ZEMA_NAME_CONVERTER_FUSION) {
      throw py::value_error("explain needs the fusion strategy");
    }
    std::string const text = text_argument(name, "a name");
    std::optional<EXPLANATION> explanation;
    run_unlocked([&] { explanation = m_state->explainer().explain(text); });
    if (!explanation) return py::none();
    return explanation_object(text, *explanation);
  }

  // `text` with its names rewritten to originals or converted names.
  py::tuple translate(py::handle text, py::handle to, py::handle syntax, py::handle separator,
                      py::handle levels) {
    std::string const side = text_argument(to, "to");
    if (side != "original" && side != "converted") {
      throw py::value_error("to must be original or converted");
    }
    TEXT_CHOICES const choices = text_choices(syntax, separator, levels);
    CONVERTER_STATE* const state = m_state.get();
    bool const to_original = side == "original";
    std::unique_ptr<NAME_INDEX>& index = to_original ? state->m_original_index : state->m_index;
    // The index is made on the first translation its way.
    return translate_text(text, choices, [&](auto&& use) {
      if (!index) {
        index = std::make_unique<NAME_INDEX>(*state->m_conversion, state->m_design->originals(),
                                             to_original ? TO_ORIGINAL : TO_CONVERTED);
      }
      use(NAME_LOOKUP::of_index(*index, to_original ? NAME_SIDE::ORIGINAL : NAME_SIDE::CONVERTED));
    });
  }

  // The rows of `zema convert`: atoms and their non-null oterms.
  std::size_t size() {
    if (m_state->m_rows == SIZE_MAX) {
      std::size_t rows = 0;
      for (CDB_ATOM_NODE* atom : m_state->m_design->m_atoms) {
        ++rows;
        for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
          rows += *it != nullptr;
        }
      }
      m_state->m_rows = rows;
    }
    return m_state->m_rows;
  }

  std::string repr() {
    return "<zema.Converter " + std::string(word_of(kStrategyWords, m_state->m_strategy)) + ", " +
           std::to_string(size()) + " rows>";
  }

  CONVERTER_STATE& state() const { return *m_state; }

 private:
  ZEMA_NAME_CONVERTER& converter() const { return m_state->m_conversion->converter(); }

  ROW row_of(py::handle atom, py::handle oterm) const {
    std::vector<CDB_ATOM_NODE*> const& atoms = m_state->m_design->m_atoms;
    std::size_t index;
    if (py::isinstance<ATOM>(atom)) {
      ATOM const& given = atom.cast<ATOM const&>();
      if (given.m_design != m_state->m_design) {
        throw py::value_error("the atom belongs to another design");
      }
      index = given.m_index;
    } else {
      index = index_argument(atom, "atom index", atoms.size());
    }
    CDB_ATOM_NODE* const node = atoms[index];
    if (oterm.is_none()) return ROW{node, index, nullptr, -1};
    std::size_t const count =
        static_cast<std::size_t>(node->end_oterm() == node->begin_oterm() ? 0 : -1);
    (void)count;
    std::size_t size = 0;
    for (CDB_ATOM_OTERM_ITERATOR it = node->begin_oterm(); it != node->end_oterm(); ++it) ++size;
    std::size_t const position = index_argument(oterm, "oterm index", size);
    CDB_ATOM_OTERM_ITERATOR it = node->begin_oterm();
    for (std::size_t p = 0; p < position; ++p) ++it;
    if (*it == nullptr) throw py::value_error("oterm " + std::to_string(position) + " is null");
    return ROW{node, index, *it, static_cast<long>(position)};
  }

  std::shared_ptr<CONVERTER_STATE> m_state;
};

// --- Revisions ----------------------------------------------------------------------

PyTypeObject* g_diff_row_type = nullptr;

// The rows of `zema diff` between the designs of two converters of one
// strategy.
py::list diff_of(CONVERTER const& old_converter, CONVERTER const& new_converter) {
  CONVERTER_STATE& before = old_converter.state();
  CONVERTER_STATE& after = new_converter.state();
  if (before.m_strategy != after.m_strategy) {
    throw py::value_error("diff needs two converters of one strategy");
  }
  struct DIFF_DATA {
    NAME_CHANGE m_change;
    std::optional<std::string> m_old, m_new;
    std::optional<std::string> m_original;
    std::optional<std::string> m_new_original;
  };
  std::vector<DIFF_DATA> rows;
  std::vector<std::string> warnings;
  run_unlocked([&] {
    DESIGN_NAMES old_names(*before.m_conversion, before.m_design->originals());
    DESIGN_NAMES new_names(*after.m_conversion, after.m_design->originals());
    NAME_DIFF const diff = diff_names(old_names, new_names);
    if (diff.m_guessed != 0) warnings.push_back(guessed_matches_text(diff));
    for (DIFF_ROW const& row : diff.m_rows) {
      rows.push_back(
          {row.m_change,
           row.m_change != NAME_CHANGE::ADDED ? std::optional<std::string>(std::string(row.m_old))
                                              : std::nullopt,
           row.m_change != NAME_CHANGE::REMOVED ? std::optional<std::string>(std::string(row.m_new))
                                                : std::nullopt,
           row.m_original.empty() ? std::nullopt
                                  : std::optional<std::string>(std::string(row.m_original)),
           row.m_change == NAME_CHANGE::REUSED && !row.m_new_original.empty()
               ? std::optional<std::string>(std::string(row.m_new_original))
               : std::nullopt});
    }
  });
  warn(warnings);
  py::list list;
  for (DIFF_DATA const& row : rows) {
    list.append(make_row(
        g_diff_row_type,
        {py::str(word_of(kNameChangeWords, row.m_change)), text_or_none(row.m_old),
         text_or_none(row.m_new), text_or_none(row.m_original), text_or_none(row.m_new_original)}));
  }
  return list;
}

// The migration of texts from the converted names of one converter's design
// to those of another's: made once, used for any number of texts.
class MIGRATION_OBJECT {
 public:
  ~MIGRATION_OBJECT() {
    LIBRARY_LOCK const lock(g_library);
    m_migration.reset();
  }

  MIGRATION_OBJECT(CONVERTER const& old_converter, CONVERTER const& new_converter) {
    CONVERTER_STATE& before = old_converter.state();
    CONVERTER_STATE& after = new_converter.state();
    if (before.m_strategy != after.m_strategy) {
      throw py::value_error("a migration needs two converters of one strategy");
    }
    run_unlocked([&] {
      DESIGN_NAMES old_names(*before.m_conversion, before.m_design->originals());
      DESIGN_NAMES new_names(*after.m_conversion, after.m_design->originals());
      m_migration = std::make_unique<MIGRATION>(old_names, new_names);
    });
  }

  py::tuple translate(py::handle text, py::handle syntax, py::handle separator,
                      py::handle levels) const {
    TEXT_CHOICES const choices = text_choices(syntax, separator, levels);
    MIGRATION const& migration = *m_migration;
    return translate_text(text, choices, [&](auto&& use) {
      use(NAME_LOOKUP(migration.table(), NAME_SIDE::CONVERTED, NAME_SIDE::CONVERTED,
                      migration.longest(), migration.deepest()));
    });
  }

 private:
  std::unique_ptr<MIGRATION> m_migration;
};

// --- Iteration over a design ------------------------------------------------------

// Every instance of the hierarchy, depth first, children in design order:
// (id, unit name, original path).
py::list instances_of(DESIGN const& design) {
  std::shared_ptr<DESIGN_STATE> const& state = design.state();
  state->build();
  struct INSTANCE_DATA {
    unsigned m_id;
    std::string m_unit;
    std::string m_path;
  };
  std::vector<INSTANCE_DATA> instances;
  run_unlocked([&] {
    ORIGINAL_NAMES& originals = state->originals();
    std::vector<HDB_INSTANCE_NAME const*> pending;
    if (state->m_loaded->m_design.root() != nullptr) {
      pending.push_back(state->m_loaded->m_design.root());
    }
    std::vector<HDB_INSTANCE_NAME const*> children;
    while (!pending.empty()) {
      HDB_INSTANCE_NAME const* const name = pending.back();
      pending.pop_back();
      INSTANCE_DATA data{id_of(name), name->get_unit_name().get_string(), std::string()};
      originals.append(&data.m_path, name);
      instances.push_back(std::move(data));
      children.clear();
      for (HDB_CONST_NAME_ITERATOR it = name->begin_child(); it != name->end_child(); ++it) {
        if (*it != nullptr) children.push_back(*it);
      }
      pending.insert(pending.end(), children.rbegin(), children.rend());
    }
  });
  py::list result;
  for (INSTANCE_DATA const& data : instances) {
    result.append(py::make_tuple(data.m_id, py::str(data.m_unit), py::str(data.m_path)));
  }
  return result;
}

std::vector<ATOM> atoms_of(DESIGN const& design) {
  design.state()->build();
  std::vector<ATOM> atoms;
  for (std::size_t i = 0; i < design.state()->m_atoms.size(); ++i) {
    atoms.push_back(ATOM{design.state(), i});
  }
  return atoms;
}

// The original name of an atom's own name or of one of its oterms, or None.
py::object original_of(ATOM const& atom, HDB_INSTANCE_NAME const* name) {
  if (name == nullptr) return py::none();
  std::string text;
  {
    LIBRARY_LOCK const lock(g_library);
    atom.m_design->originals().append(&text, name);
  }
  return py::str(text);
}

// The readers of a design take the library lock: another thread may be
// building it, moving its records into the host design.
std::string design_repr(DESIGN const& design) {
  DESIGN_STATE const& state = *design.state();
  LIBRARY_LOCK const lock(g_library);
  if (!state.built()) {
    return "<zema.Design being built: " + std::to_string(state.m_records.m_names.size()) +
           " names, " + std::to_string(state.m_records.m_atoms.size()) + " atoms>";
  }
  return "<zema.Design " + std::to_string(state.m_loaded->m_instance_count) + " names, " +
         std::to_string(state.m_atoms.size()) + " atoms>";
}

std::size_t design_size(DESIGN const& design) {
  DESIGN_STATE const& state = *design.state();
  LIBRARY_LOCK const lock(g_library);
  return state.built() ? state.m_atoms.size() : state.m_records.m_atoms.size();
}

// --- The module ------------------------------------------------------------------

// Raises `type` with `message`, whose bytes that are not UTF-8 (those of a
// file's name) read as \xNN, as the command shows them.
void set_error(PyObject* type, std::string const& message) {
  PyObject* const text = PyUnicode_DecodeUTF8(
      message.data(), static_cast<Py_ssize_t>(message.size()), "backslashreplace");
  if (text == nullptr) return;  // its own error is set
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

void add_exceptions(py::module_& module) {
  g_design_error = PyErr_NewExceptionWithDoc(
      "zema.DesignError", "A design that cannot be read or built: the zema command's message.",
      PyExc_ValueError, nullptr);
  module.attr("DesignError") = py::handle(g_design_error);
  // pybind11 takes translators of this exact signature.
  // NOLINTNEXTLINE(performance-unnecessary-value-param)
  py::register_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (TOOL_ERROR const& problem) {
      set_error(g_design_error, problem.text());
    } catch (INTERNAL_FAILURE const& failure) {
      set_error(PyExc_RuntimeError, failure.m_message);
    }
  });
}

void add_rows(py::module_& module) {
  g_row_type = make_row_type("zema.Row", "One row of `zema convert`.",
                             {"kind", "index", "id", "unit", "full"});
  g_map_row_type = make_row_type("zema.MapRow", "One row of `zema map`.",
                                 {"id", "converted", "kind", "origin", "original"});
  g_diff_row_type =
      make_row_type("zema.DiffRow", "One row of `zema diff`.",
                    {"status", "old_converted", "new_converted", "original", "new_original"});
  g_text_report_type =
      make_row_type("zema.TextReport", "A word that a translation reported, with its place.",
                    {"line", "column", "word", "problem"});
  module.attr("TextReport") = py::handle(reinterpret_cast<PyObject*>(g_text_report_type));
  module.attr("Row") = py::handle(reinterpret_cast<PyObject*>(g_row_type));
  module.attr("DiffRow") = py::handle(reinterpret_cast<PyObject*>(g_diff_row_type));
  module.attr("MapRow") = py::handle(reinterpret_cast<PyObject*>(g_map_row_type));
  py::exec(R"(
def _asdict(self):
    """The row as a dict from field names to values."""
    return dict(zip(self._fields, self))
Row._asdict = _asdict
MapRow._asdict = _asdict
DiffRow._asdict = _asdict
TextReport._asdict = _asdict
del _asdict
)",
           module.attr("__dict__"));
  py::class_<ROW_ITERATOR>(module, "RowIterator")
      .def("__iter__", [](ROW_ITERATOR& self) -> ROW_ITERATOR& { return self; })
      .def("__next__", &ROW_ITERATOR::next);
  py::class_<MAP_ITERATOR>(module, "MapIterator")
      .def("__iter__", [](MAP_ITERATOR& self) -> MAP_ITERATOR& { return self; })
      .def("__next__", &MAP_ITERATOR::next);
}

void add_designs(py::module_& module) {
  py::class_<INSTANCE>(module, "Instance", "An instance of a design built by hand.")
      .def_property_readonly(
          "id",
          [](INSTANCE const& instance) -> std::optional<std::uint32_t> {
            DESIGN_STATE const& state = *instance.m_design;
            LIBRARY_LOCK const lock(g_library);
            if (state.built()) return state.m_ids[instance.m_record];
            NAME_RECORD const& record = state.m_records.m_names[instance.m_record];
            if (!record.m_has_id) return std::nullopt;
            return record.m_id;
          },
          "The instance-name id: as given, or once the design is in use, as assigned")
      .def("__repr__", [](INSTANCE const& instance) {
        return "<zema.Instance record " + std::to_string(instance.m_record) + ">";
      });

  py::class_<ATOM>(module, "Atom", "An atom of a design, by its place in the netlist.")
      .def_property_readonly("index", [](ATOM const& atom) { return atom.m_index; })
      .def_property_readonly("type",
                             [](ATOM const& atom) {
                               return std::string(zema_host::atom_type_name(
                                   atom.m_design->m_atoms[atom.m_index]->get_basic_type()));
                             })
      .def_property_readonly(
          "original",
          [](ATOM const& atom) {
            return original_of(atom, atom.m_design->m_atoms[atom.m_index]->get_instance_name());
          },
          "The original name of the atom's own name, in the map's form, or None")
      .def_property_readonly(
          "oterms",
          [](ATOM const& atom) {
            py::list result;
            CDB_ATOM_NODE* const node = atom.m_design->m_atoms[atom.m_index];
            for (CDB_ATOM_OTERM_ITERATOR it = node->begin_oterm(); it != node->end_oterm(); ++it) {
              result.append(*it == nullptr ? py::none()
                                           : original_of(atom, (*it)->get_instance_name()));
            }
            return result;
          },
          "The original name of each oterm, None for a null entry or a name of none")
      .def("__repr__",
           [](ATOM const& atom) { return "<zema.Atom " + std::to_string(atom.m_index) + ">"; });

  py::class_<DESIGN>(module, "Design", "A design: read by read_design, or built by hand.")
      .def(py::init<>())
      .def_property_readonly("root", &DESIGN::root)
      .def("add_instance", &DESIGN::add_instance, py::arg("parent"), py::arg("unit_name"),
           py::arg("id") = py::none())
      .def("add_atom", &DESIGN::add_atom, py::arg("name"), py::arg("atom_type"),
           py::arg("oterms") = py::list())
      .def("instances", &instances_of,
           "(id, unit name, original path) of every instance, depth first")
      .def("atoms", &atoms_of, "Every atom, in netlist order")
      .def("__len__", &design_size, "The number of atoms")
      .def("__repr__", &design_repr);
}

void add_converters(py::module_& module) {
  py::class_<CHECK_ANSWER>(module, "CheckResult", "What `zema check` finds.")
      .def_readonly("strategy", &CHECK_ANSWER::m_strategy)
      .def_property_readonly("checked", [](CHECK_ANSWER const& a) { return a.m_result.m_checked; })
      .def_property_readonly("illegal", [](CHECK_ANSWER const& a) { return a.m_result.m_illegal; })
      .def_property_readonly("duplicate",
                             [](CHECK_ANSWER const& a) { return a.m_result.m_duplicate; })
      .def_property_readonly("mismatches",
                             [](CHECK_ANSWER const& a) { return a.m_result.m_mismatches; })
      .def_property_readonly("violations", &CHECK_ANSWER::violations)
      .def_property_readonly("ok", [](CHECK_ANSWER const& a) { return a.m_result.ok(); })
      .def("__repr__", [](CHECK_ANSWER const& a) {
        return "<zema.CheckResult " + a.m_strategy + ": " + std::to_string(a.m_result.m_checked) +
               " names, " + std::to_string(a.m_result.m_violations.size()) + " violations>";
      });

  py::class_<CONVERTER>(module, "Converter", "A converter of one strategy over a design.")
      .def(py::init<DESIGN const&, py::handle>(), py::arg("design"),
           py::arg("strategy") = py::str("fusion"))
      .def("rows", &CONVERTER::rows, "The rows of `zema convert`, in netlist order")
      .def("unit_name", &CONVERTER::unit_name, py::arg("atom"), py::arg("oterm") = py::none())
      .def("full_name", &CONVERTER::full_name, py::arg("atom"), py::arg("oterm") = py::none())
      .def("lookup", &CONVERTER::lookup, py::arg("name"))
      .def("map", &CONVERTER::map, "The rows of `zema map`, one at a time")
      .def("check", &CONVERTER::check)
      .def("explain", &CONVERTER::explain, py::arg("name"))
      .def("translate", &CONVERTER::translate, py::arg("text"), py::kw_only(),
           py::arg("to") = "original", py::arg("syntax") = "text", py::arg("separator") = "/",
           py::arg("levels") = 2,
           "`text` (str or bytes) with its names rewritten, as `zema translate` does, and the "
           "words it left as they are (TextReport rows)")
      .def("__len__", &CONVERTER::size, "The number of rows of `zema convert`")
      .def("__repr__", &CONVERTER::repr);
}

}  // namespace

PYBIND11_MODULE(zema, module) {
  // Converters made in a session are freed when dropped, not left for the
  // process's exit as the command leaves its one converter.
  free_always();
  zema_host::set_internal_error_echo(false);
  // Objects that a thread or a cycle keeps past the interpreter's end still
  // hold library memory then; the module says nothing on its own.
  zema_host::set_mem_close_echo(false);
  module.doc() =
      "Converted names of a design's atoms and oterms, with the ZEMA library and the reference "
      "host: legal in the target scheme, unique among siblings, and reversible.";
  module.attr("__version__") = zema_version();
  add_exceptions(module);
  add_rows(module);
  add_designs(module);
  add_converters(module);
  module.def(
      "_tracked_bytes",
      [] {
        return zema_host::mem_module_stats("ZEMA").live_bytes +
               zema_host::mem_module_stats("ORB").live_bytes;
      },
      "The bytes the library holds through the host's memory manager (for leak tests)");
  py::class_<MIGRATION_OBJECT>(module, "Migration",
                               "Carries texts written in the converted names of `old`'s design to "
                               "those of `new`'s, as `zema migrate` does.")
      .def(py::init<CONVERTER const&, CONVERTER const&>(), py::arg("old"), py::arg("new"))
      .def("translate", &MIGRATION_OBJECT::translate, py::arg("text"), py::kw_only(),
           py::arg("syntax") = "text", py::arg("separator") = "/", py::arg("levels") = 1,
           "`text` (str or bytes) in the new names, and the words reported (TextReport rows): "
           "names of objects that are gone, names that name another object now or whose new "
           "name is a guess, and names that name nothing");
  module.def("diff", &diff_of, py::arg("old"), py::arg("new"),
             "The rows of `zema diff` from the design of `old` to that of `new`: renamed, added, "
             "removed, and reused names first; a UserWarning says when matches are a guess");
  module.def("read_design", &read_design, py::arg("source"), py::kw_only(),
             py::arg("input_format") = py::none(), py::arg("top") = py::none(),
             py::arg("liberty") = py::none(), py::arg("unknown_cells") = py::none(),
             "Reads a design file or a netlist, Yosys JSON or structural Verilog (plain, .xz or "
             ".gz), from a path or from bytes; a netlist with the Liberty files of `liberty` (a "
             "path or several)");
}
