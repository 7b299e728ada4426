// The Python module `zema`: designs read by the command's own readers or
// built by hand, converted by the library exactly as `zema convert` does.
//
// A Design is records while it is built and a host design once it is first
// used (converted or iterated); from then on it cannot change. A Converter
// keeps its Design alive, and a row iterator its Converter, so no Python
// object can outlive what it reads. The library and the reference host are
// not thread-safe: every call into them holds one lock, and init runs with
// the GIL released so that other Python threads go on meanwhile.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <structmember.h>

#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "atm/zema/zema_version.h"
#include "host/zema_host.h"
#include "tools/commands/commands.h"
#include "tools/commands/conversion.h"
#include "tools/commands/name_map.h"
#include "tools/commands/original_names.h"
#include "tools/exit_policy.h"
#include "tools/input/design_builder.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/tool_error.h"

namespace py = pybind11;
using namespace zema_tool;

namespace {

// Every call into the library or the host holds it.
std::mutex g_library;

// zema.DesignError, set when the module is made.
PyObject* g_design_error = nullptr;

// A DESIGN_RECORDS problem as zema.DesignError with the command's line.
[[noreturn]] void raise_design_error(TOOL_ERROR const& error) {
  PyErr_SetString(g_design_error, error.text().c_str());
  throw py::error_already_set();
}

// --- Designs ---------------------------------------------------------------

struct DESIGN_STATE {
  DESIGN_RECORDS m_records;                  // while the design is built
  std::vector<std::uint32_t> m_child_count;  // per record: children added so far
  std::vector<std::uint32_t> m_ids;          // per record, once built
  std::unique_ptr<LOADED_DESIGN> m_loaded;   // once built
  std::vector<CDB_ATOM_NODE*> m_atoms;       // netlist order, once built

  bool built() const { return m_loaded != nullptr; }

  // Checks and builds the host design; the records' ids stay readable.
  void build() {
    if (built()) return;
    std::lock_guard<std::mutex> const lock(g_library);
    try {
      m_records.resolve();
    } catch (TOOL_ERROR const& error) {
      raise_design_error(error);
    }
    adopt(std::move(m_records));
  }

  void adopt(DESIGN_RECORDS&& records) {
    m_ids.clear();
    for (NAME_RECORD const& name : records.m_names) m_ids.push_back(name.m_id);
    m_loaded = build_design(std::move(records));
    CDB_ATOM_NETLIST* const netlist = m_loaded->m_design.netlist();
    for (CDB_ATOM_NODE_LINK* link = netlist->begin_node_list(); link != netlist->end_node_list();
         link = link->m_next) {
      m_atoms.push_back(link->m_node);
    }
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
    DESIGN_RECORDS& records = m_state->m_records;
    records.add_name(NAME_HIERARCHY, kNoRecord, 0, 0, 0, false);
    m_state->m_child_count.push_back(0);
  }
  explicit DESIGN(std::shared_ptr<DESIGN_STATE> state) : m_state(std::move(state)) {}

  INSTANCE root() const { return INSTANCE{m_state, 0}; }

  INSTANCE add_instance(INSTANCE const& parent, std::string const& unit_name,
                        std::optional<std::uint32_t> id) {
    m_state->expect_building();
    check_name(unit_name);
    if (parent.m_design != m_state) throw py::value_error("the parent belongs to another design");
    DESIGN_RECORDS& records = m_state->m_records;
    if (records.m_names.size() >= kMaxId) throw py::value_error("too many instance names");
    std::uint32_t const position = m_state->m_child_count[parent.m_record]++;
    std::uint32_t const record =
        records.add_name(NAME_HIERARCHY, parent.m_record, position, records.add_text(unit_name),
                         id.value_or(0), id.has_value());
    m_state->m_child_count.push_back(0);
    return INSTANCE{m_state, record};
  }

  // An atom named by an instance, a new name outside the hierarchy (text) or
  // nothing; its oterms likewise, None for a null oterm entry.
  typedef std::variant<INSTANCE, std::string> NAME;
  std::size_t add_atom(std::optional<NAME> const& name, py::object const& atom_type,
                       std::vector<std::optional<NAME>> const& oterms) {
    m_state->expect_building();
    DESIGN_RECORDS& records = m_state->m_records;
    std::uint32_t const index = static_cast<std::uint32_t>(records.m_atoms.size());
    ATOM_RECORD atom{reference(name, index, kNoRecord, false),
                     static_cast<std::uint32_t>(records.m_oterms.size()), type_of(atom_type)};
    for (std::size_t position = 0; position < oterms.size(); ++position) {
      records.m_oterms.push_back(
          reference(oterms[position], index, static_cast<std::uint32_t>(position), true));
    }
    records.m_atoms.push_back(atom);
    return index;
  }

  std::shared_ptr<DESIGN_STATE> const& state() const { return m_state; }

 private:
  static void check_name(std::string const& text) {
    if (text.find('\0') != std::string::npos) {
      throw py::value_error("a name must not contain the character U+0000");
    }
  }

  static int type_of(py::object const& type) {
    int number = -1;
    if (py::isinstance<py::int_>(type)) {
      number = type.cast<int>();
    } else if (py::isinstance<py::str>(type)) {
      number = zema_host::atom_type_from_name(type.cast<std::string>().c_str());
    }
    if (number < 0 || number >= 50) {
      throw py::value_error("unknown atom type " + py::repr(type).cast<std::string>());
    }
    return number;
  }

  REF reference(std::optional<NAME> const& name, std::uint32_t atom, std::uint32_t oterm,
                bool null_oterm) {
    if (!name) return REF{0, null_oterm ? REF_NULL_OTERM : REF_NONE};
    if (INSTANCE const* const instance = std::get_if<INSTANCE>(&*name)) {
      if (instance->m_design != m_state)
        throw py::value_error("the name belongs to another design");
      return REF{instance->m_record, REF_RECORD};
    }
    std::string const& text = std::get<std::string>(*name);
    check_name(text);
    DESIGN_RECORDS& records = m_state->m_records;
    std::uint32_t const record =
        records.add_name(NAME_NETLIST, oterm, atom, records.add_text(text), 0, false);
    m_state->m_child_count.push_back(0);
    return REF{record, REF_RECORD};
  }

  std::shared_ptr<DESIGN_STATE> m_state;
};

// Says each of the reader's warnings as a Python UserWarning.
void warn(DESIGN_RECORDS const& records) {
  for (std::string const& warning : records.m_warnings) {
    if (PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 2) != 0) throw py::error_already_set();
  }
}

DESIGN read_design(py::object const& source, std::optional<std::string> const& input_format,
                   std::optional<std::string> const& top, py::object const& liberty,
                   std::optional<std::string> const& unknown_cells) {
  READ_OPTIONS options;
  if (input_format) {
    if (*input_format == "zema") {
      options.m_format = INPUT_FORMAT::ZEMA;
    } else if (*input_format == "yosys") {
      options.m_format = INPUT_FORMAT::YOSYS;
    } else if (*input_format == "verilog") {
      options.m_format = INPUT_FORMAT::VERILOG;
    } else if (*input_format != "auto") {
      throw py::value_error(
          "input_format must be None, \"auto\", \"zema\", \"yosys\" or \"verilog\"");
    }
  }
  if (top) options.m_top = *top;
  // One path, or a sequence of them.
  py::object const fspath = py::module_::import("os").attr("fspath");
  if (py::isinstance<py::str>(liberty) || py::hasattr(liberty, "__fspath__")) {
    options.m_liberty.push_back(py::str(fspath(liberty)));
  } else if (!liberty.is_none()) {
    for (py::handle const path : liberty) options.m_liberty.push_back(py::str(fspath(path)));
  }
  if (unknown_cells && *unknown_cells == "atom") {
    options.m_unknown_cells = UNKNOWN_CELLS::ATOM;
  } else if (unknown_cells && *unknown_cells != "error") {
    throw py::value_error("unknown_cells must be None, \"error\" or \"atom\"");
  }
  auto state = std::make_shared<DESIGN_STATE>();
  DESIGN_RECORDS records;
  if (py::isinstance<py::bytes>(source)) {
    std::string const bytes = source.cast<std::string>();
    py::gil_scoped_release const release;
    std::lock_guard<std::mutex> const lock(g_library);
    try {
      read_records(INPUT_TEXT::from_bytes(bytes, "<bytes>", options.m_max_input_size,
                                          options.m_format == INPUT_FORMAT::VERILOG),
                   options, &records);
    } catch (TOOL_ERROR const& error) {
      py::gil_scoped_acquire const acquire;
      raise_design_error(error);
    }
    {
      py::gil_scoped_acquire const acquire;
      warn(records);
    }
    state->adopt(std::move(records));
    return DESIGN(state);
  }
  std::string const path = py::str(py::module_::import("os").attr("fspath")(source));
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) {
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
  }
  {
    py::gil_scoped_release const release;
    std::lock_guard<std::mutex> const lock(g_library);
    try {
      read_records(INPUT_TEXT::read(path, options.m_max_input_size,
                                    options.m_format == INPUT_FORMAT::VERILOG),
                   options, &records);
    } catch (TOOL_ERROR const& error) {
      py::gil_scoped_acquire const acquire;
      raise_design_error(error);
    }
  }
  warn(records);
  state->adopt(std::move(records));
  return DESIGN(state);
}

// --- Converters --------------------------------------------------------------

struct CONVERTER_STATE {
  std::shared_ptr<DESIGN_STATE> m_design;
  PHASES m_phases{false, false};
  std::unique_ptr<CONVERSION> m_conversion;
  ZEMA_NAME_CONVERTER_ENUM m_strategy;
  GEN_STRING m_text;
};

// Struct sequences (named tuples made in C): the rows of convert and map.
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
  return type;
}

py::object text_or_none(bool present, GEN_STRING const& text) {
  if (!present) return py::none();
  return py::str(text.data(), text.size());
}

class CONVERTER;

// The rows of `zema convert`, in netlist order. They are made a batch of
// atoms at a time, through the walk that lets the converter prefetch what
// the rows ahead will query, as the command's does.
class ROW_ITERATOR {
 public:
  explicit ROW_ITERATOR(std::shared_ptr<CONVERTER_STATE> state)
      : m_state(std::move(state)),
        m_link(m_state->m_design->m_loaded->m_design.netlist()->begin_node_list()) {}

  py::object next() {
    if (m_next == m_batch.size()) refill();
    if (m_next == m_batch.size()) throw py::stop_iteration();
    return std::move(m_batch[m_next++]);
  }

 private:
  static constexpr std::size_t kBatchAtoms = 1024;

  void refill() {
    m_batch.clear();
    m_next = 0;
    std::lock_guard<std::mutex> const lock(g_library);
    CDB_ATOM_NETLIST* const netlist = m_state->m_design->m_loaded->m_design.netlist();
    if (m_link == netlist->end_node_list()) return;
    m_link = m_state->m_conversion->for_each_row_from(
        m_link, m_atom, kBatchAtoms, [&](ROW const& row) { m_batch.push_back(make_row(row)); },
        true);
    m_atom += kBatchAtoms;
  }

  py::object make_row(ROW const& row) {
    static py::str const kAtom("atom");
    static py::str const kOterm("oterm");
    ZEMA_NAME_CONVERTER& converter = m_state->m_conversion->converter();
    HDB_INSTANCE_NAME const* const name = row.name();
    char index[48];
    int const length = row.is_oterm() ? std::snprintf(index, sizeof index, "%zu.%ld",
                                                      row.m_atom_index, row.m_position)
                                      : std::snprintf(index, sizeof index, "%zu", row.m_atom_index);
    bool const has_unit = row.unit(converter, &m_state->m_text);
    py::object unit = text_or_none(has_unit, m_state->m_text);
    bool const has_full = row.full(converter, &m_state->m_text);
    py::object full = text_or_none(has_full, m_state->m_text);
    PyObject* const tuple = PyStructSequence_New(g_row_type);
    if (tuple == nullptr) throw py::error_already_set();
    py::object kind = row.is_oterm() ? kOterm : kAtom;
    py::object id = name != nullptr ? py::object(py::int_(id_of(name))) : py::none();
    PyStructSequence_SetItem(tuple, 0, kind.release().ptr());
    PyStructSequence_SetItem(tuple, 1,
                             py::str(index, static_cast<std::size_t>(length)).release().ptr());
    PyStructSequence_SetItem(tuple, 2, id.release().ptr());
    PyStructSequence_SetItem(tuple, 3, unit.release().ptr());
    PyStructSequence_SetItem(tuple, 4, full.release().ptr());
    return py::reinterpret_steal<py::object>(tuple);
  }

  std::shared_ptr<CONVERTER_STATE> m_state;
  CDB_ATOM_NODE_LINK* m_link;  // the next batch's first atom
  std::size_t m_atom = 0;      // its index
  std::vector<py::object> m_batch;
  std::size_t m_next = 0;
};

// The violations and counts of `zema check`.
struct CHECK_RESULT {
  std::string m_strategy;
  std::size_t m_checked = 0;
  std::size_t m_illegal = 0;
  std::size_t m_duplicate = 0;
  std::size_t m_mismatches = 0;
  py::list m_violations;

  bool ok() const { return m_illegal + m_duplicate + m_mismatches == 0; }
};

class CONVERTER {
 public:
  CONVERTER(DESIGN const& design, std::string const& strategy)
      : m_state(std::make_shared<CONVERTER_STATE>()) {
    if (strategy != "fusion" && strategy != "reversible") {
      throw py::value_error("strategy must be \"fusion\" or \"reversible\"");
    }
    m_state->m_strategy =
        strategy == "fusion" ? ZEMA_NAME_CONVERTER_FUSION : ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE;
    m_state->m_design = design.state();
    m_state->m_design->build();
    py::gil_scoped_release const release;
    std::lock_guard<std::mutex> const lock(g_library);
    zema_host::clear_internal_errors();
    m_state->m_conversion = std::make_unique<CONVERSION>(*m_state->m_design->m_loaded,
                                                         m_state->m_strategy, m_state->m_phases);
  }

  ROW_ITERATOR rows() const { return ROW_ITERATOR(m_state); }

  py::object unit_name(py::object const& atom, std::optional<long> oterm) {
    std::lock_guard<std::mutex> const lock(g_library);
    ROW const row = row_of(atom, oterm);
    return text_or_none(row.unit(converter(), &m_state->m_text), m_state->m_text);
  }

  py::object full_name(py::object const& atom, std::optional<long> oterm) {
    std::lock_guard<std::mutex> const lock(g_library);
    ROW const row = row_of(atom, oterm);
    return text_or_none(row.full(converter(), &m_state->m_text), m_state->m_text);
  }

  std::optional<unsigned> lookup(std::string const& name) {
    std::lock_guard<std::mutex> const lock(g_library);
    unsigned const id = converter().get_original_name_id(name.c_str());
    if (id == 0) return std::nullopt;
    return id;
  }

  py::list map() {
    std::lock_guard<std::mutex> const lock(g_library);
    ORIGINAL_NAMES originals(*m_state->m_design->m_loaded);
    py::list rows;
    for_each_map_row(*m_state->m_conversion, originals, [&](MAP_ROW const& row) {
      PyObject* const tuple = PyStructSequence_New(g_map_row_type);
      if (tuple == nullptr) throw py::error_already_set();
      py::object original =
          row.m_original != nullptr
              ? py::object(py::str(row.m_original->data(), row.m_original->size()))
              : py::none();
      PyStructSequence_SetItem(tuple, 0, py::int_(row.m_id).release().ptr());
      PyStructSequence_SetItem(
          tuple, 1, py::str(row.m_converted.data(), row.m_converted.size()).release().ptr());
      PyStructSequence_SetItem(tuple, 2, py::str(row.m_kind).release().ptr());
      PyStructSequence_SetItem(tuple, 3, py::str(row.m_origin).release().ptr());
      PyStructSequence_SetItem(tuple, 4, original.release().ptr());
      rows.append(py::reinterpret_steal<py::object>(tuple));
    });
    return rows;
  }

  CHECK_RESULT check() {
    std::string const json = run_command(
        [&](COMMAND_OPTIONS const& options, PHASES& phases, OUTPUT_BUFFER& out, std::FILE* errors) {
          run_check(*m_state->m_design->m_loaded, options, phases, out, errors);
        });
    py::dict const parsed = py::module_::import("json").attr("loads")(json);
    CHECK_RESULT result;
    result.m_strategy = parsed["strategy"].cast<std::string>();
    result.m_checked = parsed["checked"].cast<std::size_t>();
    result.m_illegal = parsed["illegal"].cast<std::size_t>();
    result.m_duplicate = parsed["duplicate"].cast<std::size_t>();
    result.m_mismatches = parsed["mismatches"].cast<std::size_t>();
    result.m_violations = parsed["violations"];
    return result;
  }

  py::object explain(std::string const& name) {
    if (m_state->m_strategy != ZEMA_NAME_CONVERTER_FUSION) {
      throw py::value_error("explain needs the fusion strategy");
    }
    std::vector<std::string_view> const names{name};
    std::string const json = run_command(
        [&](COMMAND_OPTIONS const& options, PHASES& phases, OUTPUT_BUFFER& out, std::FILE* errors) {
          run_explain(*m_state->m_design->m_loaded, options, names, phases, out, errors);
        });
    py::object answer = py::module_::import("json").attr("loads")(json)[py::int_(0)];
    if (!answer["found"].cast<bool>()) return py::none();
    return answer;
  }

 private:
  ZEMA_NAME_CONVERTER& converter() const { return m_state->m_conversion->converter(); }

  // A command of the tool, in JSON, on this converter's design: it converts
  // the design again with its own converter, so that this one is untouched.
  template <class RUN>
  std::string run_command(RUN&& run) {
    COMMAND_OPTIONS options;
    options.m_strategy = m_state->m_strategy;
    options.m_json = true;
    py::gil_scoped_release const release;
    std::lock_guard<std::mutex> const lock(g_library);
    zema_host::clear_internal_errors();
    return written_text([&](OUTPUT_BUFFER& out) {
      PHASES phases(false, false);
      run(options, phases, out, stderr);
    });
  }

  ROW row_of(py::object const& atom, std::optional<long> oterm) const {
    std::size_t index;
    if (py::isinstance<ATOM>(atom)) {
      ATOM const& given = atom.cast<ATOM const&>();
      if (given.m_design != m_state->m_design) {
        throw py::value_error("the atom belongs to another design");
      }
      index = given.m_index;
    } else {
      long const number = atom.cast<long>();
      if (number < 0) throw py::index_error("atom index out of range");
      index = static_cast<std::size_t>(number);
    }
    std::vector<CDB_ATOM_NODE*> const& atoms = m_state->m_design->m_atoms;
    if (index >= atoms.size()) throw py::index_error("atom index out of range");
    CDB_ATOM_NODE* const node = atoms[index];
    if (!oterm) return ROW{node, index, nullptr, -1};
    long position = 0;
    for (CDB_ATOM_OTERM_ITERATOR it = node->begin_oterm(); it != node->end_oterm();
         ++it, ++position) {
      if (position != *oterm) continue;
      if (*it == nullptr) throw py::value_error("oterm " + std::to_string(position) + " is null");
      return ROW{node, index, *it, position};
    }
    throw py::index_error("oterm index out of range");
  }

  std::shared_ptr<CONVERTER_STATE> m_state;
};

// --- Iteration over a design ------------------------------------------------------

// Every instance of the hierarchy, depth first, children in design order:
// (id, unit name, original path).
py::list instances_of(DESIGN const& design) {
  std::shared_ptr<DESIGN_STATE> const& state = design.state();
  state->build();
  std::lock_guard<std::mutex> const lock(g_library);
  ORIGINAL_NAMES originals(*state->m_loaded);
  py::list result;
  std::vector<HDB_INSTANCE_NAME const*> pending;
  if (state->m_loaded->m_design.root() != nullptr) {
    pending.push_back(state->m_loaded->m_design.root());
  }
  std::string path;
  std::vector<HDB_INSTANCE_NAME const*> children;
  while (!pending.empty()) {
    HDB_INSTANCE_NAME const* const name = pending.back();
    pending.pop_back();
    path.clear();
    originals.append(&path, name);
    result.append(
        py::make_tuple(id_of(name), py::str(name->get_unit_name().get_string()), py::str(path)));
    children.clear();
    for (HDB_CONST_NAME_ITERATOR it = name->begin_child(); it != name->end_child(); ++it) {
      if (*it != nullptr) children.push_back(*it);
    }
    pending.insert(pending.end(), children.rbegin(), children.rend());
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
  std::lock_guard<std::mutex> const lock(g_library);
  ORIGINAL_NAMES originals(*atom.m_design->m_loaded);
  std::string text;
  originals.append(&text, name);
  return py::str(text);
}

}  // namespace

PYBIND11_MODULE(zema, module) {
  // Converters made in a session are freed when dropped, not left for the
  // process's exit as the command leaves its one converter.
  free_always();
  zema_host::set_internal_error_echo(false);
  module.doc() =
      "Converted names of a design's atoms and oterms, with the ZEMA library and the reference "
      "host: legal in the target scheme, unique among siblings, and reversible.";
  module.attr("__version__") = zema_version();

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
      PyErr_SetString(g_design_error, problem.text().c_str());
    } catch (INTERNAL_FAILURE const& failure) {
      PyErr_SetString(PyExc_RuntimeError, failure.m_message.c_str());
    }
  });

  g_row_type = make_row_type("zema.Row", "One row of `zema convert`.",
                             {"kind", "index", "id", "unit", "full"});
  g_map_row_type = make_row_type("zema.MapRow", "One row of `zema map`.",
                                 {"id", "converted", "kind", "origin", "original"});
  module.attr("Row") = py::handle(reinterpret_cast<PyObject*>(g_row_type));
  module.attr("MapRow") = py::handle(reinterpret_cast<PyObject*>(g_map_row_type));

  py::class_<INSTANCE>(module, "Instance", "An instance of a design built by hand.")
      .def_property_readonly(
          "id",
          [](INSTANCE const& instance) -> std::optional<std::uint32_t> {
            DESIGN_STATE const& state = *instance.m_design;
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
           py::arg("oterms") = std::vector<std::optional<DESIGN::NAME>>())
      .def("instances", &instances_of,
           "(id, unit name, original path) of every instance, depth first")
      .def("atoms", &atoms_of, "Every atom, in netlist order");

  py::class_<ROW_ITERATOR>(module, "RowIterator")
      .def("__iter__", [](ROW_ITERATOR& self) -> ROW_ITERATOR& { return self; })
      .def("__next__", &ROW_ITERATOR::next);

  py::class_<CHECK_RESULT>(module, "CheckResult", "What `zema check` finds.")
      .def_readonly("strategy", &CHECK_RESULT::m_strategy)
      .def_readonly("checked", &CHECK_RESULT::m_checked)
      .def_readonly("illegal", &CHECK_RESULT::m_illegal)
      .def_readonly("duplicate", &CHECK_RESULT::m_duplicate)
      .def_readonly("mismatches", &CHECK_RESULT::m_mismatches)
      .def_readonly("violations", &CHECK_RESULT::m_violations)
      .def_property_readonly("ok", &CHECK_RESULT::ok);

  py::class_<CONVERTER>(module, "Converter", "A converter of one strategy over a design.")
      .def(py::init<DESIGN const&, std::string const&>(), py::arg("design"),
           py::arg("strategy") = "fusion")
      .def("rows", &CONVERTER::rows, "The rows of `zema convert`, in netlist order")
      .def("unit_name", &CONVERTER::unit_name, py::arg("atom"), py::arg("oterm") = py::none())
      .def("full_name", &CONVERTER::full_name, py::arg("atom"), py::arg("oterm") = py::none())
      .def("lookup", &CONVERTER::lookup, py::arg("name"))
      .def("map", &CONVERTER::map, "The rows of `zema map`")
      .def("check", &CONVERTER::check)
      .def("explain", &CONVERTER::explain, py::arg("name"));

  module.def(
      "_tracked_bytes",
      [] {
        return zema_host::mem_module_stats("ZEMA").live_bytes +
               zema_host::mem_module_stats("ORB").live_bytes;
      },
      "The bytes the library holds through the host's memory manager (for leak tests)");
  module.def(
      "read_design", &read_design, py::arg("source"), py::kw_only(),
      py::arg("input_format") = py::none(), py::arg("top") = py::none(),
      py::arg("liberty") = py::none(), py::arg("unknown_cells") = py::none(),
      "Reads a design file, a Yosys netlist or a Verilog netlist (plain, .xz or .gz) from a "
      "path, or from bytes; netlists with the cell libraries of `liberty` (a path or several)");
}
