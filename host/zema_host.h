// The reference host: an in-memory design database and tool services that
// implement every interface in h/, plus the builder and inspection functions
// that tests, examples and the command-line tool use.
//
// Objects made by a DESIGN live until the DESIGN is destroyed. Inspection
// records (reports, debug lines, call logs) are kept in host memory that is
// not tracked, so they never count against a module.
#ifndef HOST_ZEMA_HOST_H
#define HOST_ZEMA_HOST_H

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "h/cdb_net_sys.h"
#include "h/hdb_sys.h"
#include "h/mem_alloc_sys.h"

namespace zema_host {

// A design: instance hierarchy, free-standing instance names, atom netlist and
// the compile action point whose root is the hierarchy's root.
class DESIGN {
 public:
  DESIGN();
  ~DESIGN();
  DESIGN(DESIGN const&) = delete;
  DESIGN& operator=(DESIGN const&) = delete;

  // Creates the root instance (replacing none: call once). Until then the
  // action point has no root. The root's unit name should be empty.
  HDB_INSTANCE_NAME const* set_root(char const* unit_name, unsigned id);
  // Appends a child to `parent`'s children (database order is append order).
  // `id` 0 leaves the name unregistered with the name manager.
  HDB_INSTANCE_NAME const* add_child(HDB_INSTANCE_NAME const* parent, char const* unit_name,
                                     unsigned id);
  // Appends a null entry to `parent`'s children (a broken database).
  void add_null_child(HDB_INSTANCE_NAME const* parent);
  // An instance name outside the hierarchy, for atoms and oterms to refer to.
  HDB_INSTANCE_NAME const* add_free_name(char const* unit_name, unsigned id);

  // Appends an atom to the netlist; `name` may be null.
  CDB_ATOM_NODE* add_atom(CDB_ATOM_BASIC_TYPE type, HDB_INSTANCE_NAME const* name);
  // Appends a null entry to the netlist's atom list.
  void add_null_atom();
  // Appends an oterm to `atom`'s oterm sequence; `name` may be null.
  CDB_ATOM_OTERM* add_oterm(CDB_ATOM_NODE* atom, HDB_INSTANCE_NAME const* name);
  // Appends a null entry to `atom`'s oterm sequence.
  void add_null_oterm(CDB_ATOM_NODE* atom);
  // An oterm that belongs to no atom (get_my_node() is null).
  CDB_ATOM_OTERM* add_orphan_oterm(HDB_INSTANCE_NAME const* name);

  HDB_CMP_ACTION_PT_INSTANCE const* action_point() const;
  CDB_ATOM_NETLIST* netlist();
  HDB_INSTANCE_NAME const* root() const;

  // --- Building a whole design at once ------------------------------------
  // A reader that knows every count up front builds without one allocation
  // per object: reserve() makes one block per kind of object, adopt_texts()
  // keeps the reader's buffer of unit names instead of copying each name,
  // and reserve_children() and reserve_oterms() give a sequence its final
  // size, laid out contiguously with the sequences reserved before it.

  // Reserves room for the expected numbers of instance names, atoms, oterms,
  // instances with children, and child entries of all instances together.
  // From 4 MiB of room on, a thread populates that memory while the design
  // is built, so counts should not be much over what is built.
  void reserve(std::size_t instances, std::size_t atoms, std::size_t oterms,
               std::size_t parents = 0, std::size_t child_slots = 0);
  // Takes `texts`, a block of NUL-terminated unit names; a name passed to
  // set_root, add_child or add_free_name that points into it is kept, not
  // copied. The block lives as long as the design.
  void adopt_texts(std::vector<char> texts);
  // Gives `parent`'s children room for `count` entries in all.
  void reserve_children(HDB_INSTANCE_NAME const* parent, std::size_t count);
  // Gives `atom`'s oterm sequence room for `count` entries in all.
  void reserve_oterms(CDB_ATOM_NODE* atom, std::size_t count);

  struct IMPL;

 private:
  std::unique_ptr<IMPL> m_impl;
};

// The parent of an instance name of a DESIGN, or null for the root and for
// free-standing names.
HDB_INSTANCE_NAME const* parent_of(HDB_INSTANCE_NAME const* name);

// Appends the unit name of `name` as one level of a path in the unambiguous
// format of get_short_hpath (HDB_HPATH_FORMAT_UNAMBIGUOUS): "/" and "\"
// escaped, the empty name as "\.", a repeat among siblings with "\#k".
void append_unambiguous_level(std::string* out, HDB_INSTANCE_NAME const* name);

// Reads one level of a path in that format starting at *pos, leaving *pos on
// the separating "/" or at the end: the unit name into *name and its repeat
// number (0 for the first of its name) into *rank. Gives false for a
// malformed level.
bool parse_unambiguous_level(std::string_view path, std::size_t* pos, std::string* name,
                             unsigned* rank);

// --- Memory manager inspection --------------------------------------------

struct MEM_STATS {
  unsigned long long live_bytes;
  unsigned long long live_blocks;
  unsigned long long total_blocks;
};

// What `module` currently holds, summed over its tracking records.
MEM_STATS mem_module_stats(char const* module);
// Makes the allocation after `n` further successful ones throw
// std::bad_alloc (n = 0: the very next one); a negative n switches this off.
void mem_fail_after(long n);
// For a program that builds a big design and converts it once: a thread of
// the host populates the next `bytes` of memory that tracked blocks will
// take, ahead of their first touch, which on a big design costs more than
// the work done in it. `bytes` may be generous: the thread keeps only a few
// MiB ahead of the memory blocks take, and ends once they stop taking more.
// Only the first call counts, and nothing else changes.
// Without pools (sanitizer builds, ZEMA_HOST_POOLS=0) it does nothing.
void mem_prefault(std::size_t bytes);
// For a program about to fill hash tables of at most about `entries` entries
// each, such as one that converts a design of known size (0, the default and
// the setting to return to: nothing expected): a table whose next growth
// comes within an eighth of the buckets that many entries call for grows
// there at once, where growing by steps would have rehashed it two to four
// times more on its way; so do the first eight tables that pass 65,536
// buckets. Bucket counts change no name; a table that holds fewer entries
// takes more memory than it needs.
void expect_table_entries(std::size_t entries);
// While it lives, tables expect the entries that a converter's init fills
// on a design of these counts: its largest tables are its indexes of the
// hierarchy's nodes, of the atoms and of the oterms, and its table of
// converted names, one per node of the hierarchy or made-up name.
class INIT_EXPECTATION {
 public:
  INIT_EXPECTATION(std::size_t instances, std::size_t atoms, std::size_t oterms);
  ~INIT_EXPECTATION();
  INIT_EXPECTATION(INIT_EXPECTATION const&) = delete;
  INIT_EXPECTATION& operator=(INIT_EXPECTATION const&) = delete;
};
// For a program that touches its memory once, such as one that converts a
// design and exits: tracked blocks stop asking the kernel for transparent
// huge pages, in the memory not touched yet. Huge pages spare a process that
// works in its memory for long most page walks, but on a virtual machine
// that hands freed memory back to its host, a fresh huge page costs far more
// system time to touch than the small pages it replaces. Nothing else
// changes.
void mem_small_pages();
// For such a program (after mem_small_pages), which gives up a private
// anonymous mapping of its own at `pages` (an input it has read): the whole
// 64 KiB slabs at its start move into the memory of tracked blocks, which
// use them, cleared as they are handed out, before any fresh memory. Pages
// already touched cost a fraction of fresh ones. Gives how many bytes from
// `pages` were taken: the caller unmaps only the rest. Elsewhere, and
// without pools, it takes nothing, so that a long-running program's memory
// never grows by what it read.
std::size_t mem_adopt_pages(void* pages, std::size_t bytes);
// For such a program (after mem_small_pages), about to work on a small
// design: the next `bytes` of fresh memory ask for huge pages again, and
// mem_adopt_pages takes nothing from then on, so that the design's blocks
// land in them. Fresh huge pages usually cost a fraction of the small pages
// they replace, and spare the page walks of a design that fits in them; on
// days when the kernel must compact memory to find them they cost more, so
// a program asks for only a bounded run. Elsewhere it does nothing.
void mem_huge_pages(std::size_t bytes);
// Whether tracked blocks come from the host's pools (false in sanitizer
// builds and with ZEMA_HOST_POOLS=0, where each block is its own calloc).
bool mem_pooled();
// While one lives, tracked blocks may be taken and freed by several threads
// at once: each takes a lock, off the single-threaded fast path. Made and
// ended by one thread while no other uses tracked memory; not nested.
class MEM_SHARING {
 public:
  MEM_SHARING();
  ~MEM_SHARING();
  MEM_SHARING(MEM_SHARING const&) = delete;
  MEM_SHARING& operator=(MEM_SHARING const&) = delete;
};
// One line per MEM_INITIALIZER that closed while its module still held
// memory: "MEM: module M still holds B bytes in K blocks".
std::vector<std::string> const& mem_close_reports();
// Whether those lines are also printed to stderr (on by default). A host
// whose objects may outlive its modules at exit (an interpreter) turns it
// off: what it still holds then is no leak of the library's.
void set_mem_close_echo(bool on);

// The first touch of fresh memory is what a big design pays most for. A
// program (or a part of the host) that knows which fresh memory it is about
// to fill lets a thread of this populator take that cost on another core:
// it populates each [first, second) in turn with MADV_POPULATE_WRITE, which
// brings pages in as a write would but never writes them, so it is safe
// while other threads fill the same memory. It stops at the first step the kernel
// refuses (a kernel older than 5.14 refuses them all). When no thread can be
// started, nothing is populated and the memory is touched as usual.
class PAGE_POPULATOR {
 public:
  // A populator that keeps at most `window` bytes ahead of its consumer:
  // *consumed - base is how many bytes of the ranges, taken in order, the
  // consumer has reached. It waits while it is that far ahead, and ends once
  // the consumer has not moved for a while. So a budget sized for the
  // largest use costs little where the consumer uses less: at most the
  // window is populated and never touched. A consumer that may pause for
  // long (an array that fills only in a later part of the input) keeps its
  // populator waiting until the populator is destroyed: `until_stopped`.
  struct LEAD {
    std::atomic<std::size_t> const* consumed;
    std::size_t base;
    std::size_t window;
    bool until_stopped = false;
  };
  // What the thread leaves each page as. On a virtual machine that keeps
  // its own copy of the process's page tables, the process's first access
  // to a page costs a trip to the hypervisor even once the kernel has
  // populated it (about 4 us a page on these machines, as much again as the
  // populating): TOUCHED also reads a byte of every page, so that trip too
  // is taken on the populator's core. Elsewhere that read is a TLB miss.
  // Only for memory that nothing unmaps before the thread is done: a read
  // of unmapped memory kills the process, where madvise only fails.
  enum class READY { POPULATED, TOUCHED };
  explicit PAGE_POPULATOR(std::vector<std::pair<char*, char*>> ranges,
                          READY ready = READY::POPULATED) noexcept;
  PAGE_POPULATOR(std::vector<std::pair<char*, char*>> ranges, LEAD lead,
                 READY ready = READY::POPULATED)
  noexcept;
  // A populator for `ranges` when they come to kWorthwhileBytes or more;
  // null below, where starting a thread costs more than the first touch it
  // takes over, or when none can be made.
  static std::unique_ptr<PAGE_POPULATOR> start(std::vector<std::pair<char*, char*>> ranges,
                                               READY ready = READY::POPULATED);
  static constexpr std::size_t kWorthwhileBytes = std::size_t{4} << 20;
  // Stops the thread at its next step and waits for it, unless detach() let
  // it go: the ranges' memory must stay mapped while it runs. In a child
  // forked meanwhile, where the thread does not run, it only lets it go.
  ~PAGE_POPULATOR();
  PAGE_POPULATOR(PAGE_POPULATOR const&) = delete;
  PAGE_POPULATOR& operator=(PAGE_POPULATOR const&) = delete;

  // For memory that stays mapped as long as the process: its end need not
  // wait for the thread.
  void detach();

 private:
  std::shared_ptr<std::atomic<bool>> m_stop;
  std::thread m_thread;
  pid_t m_process = 0;  // that started the thread
};

// --- Messages ---------------------------------------------------------------

struct INTERNAL_ERROR {
  std::string condition;
  std::string module;
  std::string file;
  int line;
};

std::vector<INTERNAL_ERROR> const& internal_errors();
void clear_internal_errors();
// Whether reports are also printed to stderr (on by default).
void set_internal_error_echo(bool on);

// Debug output of msg_local_vdebug: off unless the environment variable
// ZEMA_HOST_DEBUG is set to a non-empty value other than "0", or switched on
// here. Printed lines go to stderr as "module: text" and are recorded.
void set_debug_output(bool on);
std::vector<std::string> const& debug_lines();
void clear_debug_lines();

// --- Call log of the naming functions and path lookups ----------------------

struct HOST_CALL {
  std::string function;  // e.g. "hdb_convert_cell_name_to_vexa", "find_in_descendants"
  std::string text;      // the text or path argument
  int type;              // the atom type for the cell function, else -1
  bool flag1;            // first bool argument
  bool flag2;            // second bool argument, false where there is none
};

// Off by default; recording is for tests.
void set_call_log(bool on);
std::vector<HOST_CALL> const& call_log();
void clear_call_log();

// The internal-error reports, debug lines and calls above keep at most the
// first 100,000 records of each kind; this many more were only counted.
std::size_t dropped_records();

// --- Growth function observation --------------------------------------------

// Off by default; while on, every `wanted` value passed to
// orb_hash_50_percent_increase_size is recorded, in order.
void set_growth_log(bool on);
std::vector<unsigned> const& growth_requests();
void clear_growth_requests();

// The 50 debug names of the atom types, and the type whose debug name equals
// `name` ignoring case, or -1.
char const* atom_type_name(int type);
int atom_type_from_name(char const* name);

}  // namespace zema_host

#endif  // HOST_ZEMA_HOST_H
