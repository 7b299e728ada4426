// ZEMA name conversion: the facade a host constructs, the implementation
// interface behind it, the two converters, and the tree of converted names.
//
// For every atom and output terminal (oterm) of a design the converters give a
// converted unit name and a converted full name that are legal in the target
// naming scheme and unique among their siblings, and they turn a converted
// full name back into the instance-name id it stands for.
//
// The fusion converter builds its own tree of converted names in init() and
// answers every query from it; the reversible converter keeps no state and
// hands each query to the host's naming functions. Every object here is
// allocated zero-filled through the host's tracked memory manager under the
// module "ZEMA". Host objects (action point, netlist, instance names, atoms,
// oterms) are only borrowed. Broken invariants are reported through
// MSG_INTERNAL_ERROR and the missing object is never touched afterwards.
//
// Threads and stack: every operation runs on the caller's thread; the library
// creates no threads and takes no locks. A converter uses scratch strings of
// its own, so it serves one call at a time; separate converters share nothing
// but the module's memory initializer. No operation recurses with the depth
// of the design: walks of the hierarchy use work lists in tracked memory, so
// a thread stack of 256 KiB is enough for a hierarchy a million levels deep.
#ifndef ATM_ZEMA_ZEMA_NAME_CONVERTER_H
#define ATM_ZEMA_ZEMA_NAME_CONVERTER_H

#include <vector>

#include "containers/orb_hash.h"
#include "containers/orb_ops.h"
#include "containers/orb_string_table.h"
#include "h/cdb_net_sys.h"
#include "h/gen_sys.h"
#include "h/hdb_sys.h"
#include "h/mem_alloc_sys.h"
#include "h/orb_sys.h"

// Prints a debug message of the module "ZEMA" through the host; returns
// whether the host printed it.
bool zema_msg_debug(char const* format, ...);

// A fixed underlying type keeps values other than the two strategies well defined,
// so the facade can report them.
enum ZEMA_NAME_CONVERTER_ENUM : int {
  ZEMA_NAME_CONVERTER_FUSION = 0,
  ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE = 1
};

// What every conversion strategy implements. A query returns true and
// replaces the whole content of *out, or returns false and leaves *out as it
// was; get_original_name_id gives 0 for a text that names nothing, and for
// a null text, which the fusion converter reports.
class ZEMA_NAME_CONVERTER_IMPL {
 public:
  MEM_TRACKED_NEW_DELETE(ZEMA_NAME_CONVERTER_IMPL)

  ZEMA_NAME_CONVERTER_IMPL();
  virtual ~ZEMA_NAME_CONVERTER_IMPL();
  ZEMA_NAME_CONVERTER_IMPL(ZEMA_NAME_CONVERTER_IMPL const&) = delete;
  ZEMA_NAME_CONVERTER_IMPL& operator=(ZEMA_NAME_CONVERTER_IMPL const&) = delete;

  // Stores the action point and the netlist for later queries.
  virtual void init(HDB_CMP_ACTION_PT_INSTANCE const* action_point, CDB_ATOM_NETLIST* netlist);
  // Forgets the action point and the netlist.
  virtual void clear();
  virtual bool get_converted_full_name(GEN_STRING* out, CDB_ATOM_NODE* atom, bool no_backslash) = 0;
  virtual bool get_converted_full_name(GEN_STRING* out, CDB_ATOM_OTERM* oterm,
                                       bool no_backslash) = 0;
  virtual bool get_converted_unit_name(GEN_STRING* out, CDB_ATOM_NODE* atom) = 0;
  virtual bool get_converted_unit_name(GEN_STRING* out, CDB_ATOM_OTERM* oterm) = 0;
  virtual unsigned get_original_name_id(char const* converted_full_name) = 0;

  HDB_CMP_ACTION_PT_INSTANCE const* m_action_point;
  CDB_ATOM_NETLIST* m_netlist;
};

// The object a host constructs to convert names: it creates the chosen
// strategy, owns it and forwards every call to it.
class ZEMA_NAME_CONVERTER {
 public:
  MEM_TRACKED_NEW_DELETE(ZEMA_NAME_CONVERTER)

  // Creates the implementation for `type`; any other value than the two
  // strategies is reported and leaves the facade without one, in which case
  // every query gives false or 0.
  explicit ZEMA_NAME_CONVERTER(ZEMA_NAME_CONVERTER_ENUM type);
  ~ZEMA_NAME_CONVERTER();
  ZEMA_NAME_CONVERTER(ZEMA_NAME_CONVERTER const&) = delete;
  ZEMA_NAME_CONVERTER& operator=(ZEMA_NAME_CONVERTER const&) = delete;

  // Emits "ZEMA: Initializing..." and initialises the implementation.
  void init(HDB_CMP_ACTION_PT_INSTANCE const* action_point, CDB_ATOM_NETLIST* netlist);
  void clear();
  bool get_converted_unit_name(GEN_STRING* out, CDB_ATOM_NODE* atom);
  bool get_converted_unit_name(GEN_STRING* out, CDB_ATOM_OTERM* oterm);
  bool get_converted_full_name(GEN_STRING* out, CDB_ATOM_NODE* atom, bool no_backslash);
  bool get_converted_full_name(GEN_STRING* out, CDB_ATOM_OTERM* oterm, bool no_backslash);
  unsigned get_original_name_id(char const* converted_full_name);

  ZEMA_NAME_CONVERTER_IMPL* m_impl;
};

// Converts through the host's naming functions of the target scheme: unit
// names as one segment, full names from the instance's unambiguous short
// hierarchical path. Keeps no tree; only reverse lookup needs init().
//
// An atom or oterm named outside the hierarchy (a name of its own, not an
// instance) has the empty path: its full name is what the host's naming
// functions make of it (the reference host's: the empty text, or "\" with
// the backslash), the query returns true all the same, and the name leads
// back to nothing. A host that writes such objects must name them itself.
class ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL : public ZEMA_NAME_CONVERTER_IMPL {
 public:
  MEM_TRACKED_NEW_DELETE(ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL)

  ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL();
  ~ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL() override;

  bool get_converted_full_name(GEN_STRING* out, CDB_ATOM_NODE* atom, bool no_backslash) override;
  bool get_converted_full_name(GEN_STRING* out, CDB_ATOM_OTERM* oterm, bool no_backslash) override;
  bool get_converted_unit_name(GEN_STRING* out, CDB_ATOM_NODE* atom) override;
  bool get_converted_unit_name(GEN_STRING* out, CDB_ATOM_OTERM* oterm) override;
  // The id of the instance that the reverted path names below the root of
  // the action point given to init(); 0 when the text does not revert, when
  // there is no action point or root, or when no instance matches.
  unsigned get_original_name_id(char const* converted_full_name) override;

  // Scratch for the short hierarchical path of one query.
  GEN_STRING m_path;
};

class ZEMA_NAME_CONVERTER_HIERARCHY_PARENT;
class ZEMA_NAME_CONVERTER_HIERARCHY_LEAF;

// A node of the tree of converted names: a converted unit name (interned in
// the fusion converter's string table), the instance-name id it stands for,
// and the parent (null only for the root). Nodes are created, linked and
// destroyed by the fusion converter; a node owns nothing but, for an interior
// node, its children index.
class ZEMA_NAME_CONVERTER_HIERARCHY {
 public:
  typedef ORB_HASH<char const*, ZEMA_NAME_CONVERTER_HIERARCHY*, ZEMA_NAME_CSTR_OPS> CHILD_HASH;
  typedef CHILD_HASH::ITERATOR CHILD_ITERATOR;

  MEM_TRACKED_NEW_DELETE(ZEMA_NAME_CONVERTER_HIERARCHY)

  ZEMA_NAME_CONVERTER_HIERARCHY(ZEMA_NAME_CONVERTER_HIERARCHY* parent, char const* name,
                                unsigned id);
  virtual ~ZEMA_NAME_CONVERTER_HIERARCHY();
  ZEMA_NAME_CONVERTER_HIERARCHY(ZEMA_NAME_CONVERTER_HIERARCHY const&) = delete;
  ZEMA_NAME_CONVERTER_HIERARCHY& operator=(ZEMA_NAME_CONVERTER_HIERARCHY const&) = delete;

  // A walk over the children in the order of the children index; a leaf's
  // walk is empty (both ends are the all-zero iterator).
  virtual CHILD_ITERATOR begin_child() = 0;
  virtual CHILD_ITERATOR end_child() = 0;
  virtual bool is_leaf() = 0;
  // This node as an interior node or as a leaf, or null when it is the other kind.
  virtual ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* cast_to_parent();
  virtual ZEMA_NAME_CONVERTER_HIERARCHY_LEAF* cast_to_leaf();
  virtual ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* cast_to_parent() const;
  virtual ZEMA_NAME_CONVERTER_HIERARCHY_LEAF const* cast_to_leaf() const;

  char const* m_name;
  unsigned m_id;
  ZEMA_NAME_CONVERTER_HIERARCHY* m_parent;
};

// An interior node: the root, or the node of an instance that has children.
// m_children maps each child's interned name to the child, by pointer.
class ZEMA_NAME_CONVERTER_HIERARCHY_PARENT : public ZEMA_NAME_CONVERTER_HIERARCHY {
 public:
  MEM_TRACKED_NEW_DELETE(ZEMA_NAME_CONVERTER_HIERARCHY_PARENT)

  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT(ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent,
                                       char const* name, unsigned id);
  // Frees the children index, not the children.
  ~ZEMA_NAME_CONVERTER_HIERARCHY_PARENT() override;

  CHILD_ITERATOR begin_child() override;
  CHILD_ITERATOR end_child() override;
  bool is_leaf() override;
  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* cast_to_parent() override;
  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* cast_to_parent() const override;

  CHILD_HASH m_children;
};

// A leaf: the node of an instance without children, or a made-up name of an
// atom or oterm.
class ZEMA_NAME_CONVERTER_HIERARCHY_LEAF : public ZEMA_NAME_CONVERTER_HIERARCHY {
 public:
  MEM_TRACKED_NEW_DELETE(ZEMA_NAME_CONVERTER_HIERARCHY_LEAF)

  ZEMA_NAME_CONVERTER_HIERARCHY_LEAF(ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent, char const* name,
                                     unsigned id);
  ~ZEMA_NAME_CONVERTER_HIERARCHY_LEAF() override;

  CHILD_ITERATOR begin_child() override;
  CHILD_ITERATOR end_child() override;
  bool is_leaf() override;
  ZEMA_NAME_CONVERTER_HIERARCHY_LEAF* cast_to_leaf() override;
  ZEMA_NAME_CONVERTER_HIERARCHY_LEAF const* cast_to_leaf() const override;
};

// Orders instance names by the strcmp order of their unit names (unsigned
// bytes, case-sensitive).
struct ZEMA_INAME_CPTR_COMPARE {
  bool operator()(HDB_INSTANCE_NAME const* a, HDB_INSTANCE_NAME const* b) const;
};

// Builds a tree of converted names from the design hierarchy and the netlist
// in init(), then answers every query from it.
//
// Names from the hierarchy are legalised (lower-case letters, digits, '[',
// ']' and '_', starting with a lower-case letter); siblings are named in the
// strcmp order of their unit names and clashes get "_0", "_1", ...; atoms and
// oterms that the hierarchy does not name get made-up leaves under the root.
// A full name is the path of unit names below the root joined by "/", with one
// leading backslash when the caller asks for it.
class ZEMA_NAME_CONVERTER_FUSION_IMPL : public ZEMA_NAME_CONVERTER_IMPL {
 public:
  typedef ZEMA_NAME_CONVERTER_HIERARCHY NODE;
  typedef ZEMA_NAME_CONVERTER_HIERARCHY_PARENT PARENT;
  typedef ZEMA_NAME_CONVERTER_HIERARCHY_LEAF LEAF;
  typedef ORB_HASH<unsigned, NODE*, ORB_OPS<unsigned>> ID_HASH;
  static int const TYPE_COUNT = 50;

  MEM_TRACKED_NEW_DELETE(ZEMA_NAME_CONVERTER_FUSION_IMPL)

  // Fills the 50 type prefixes: the host's debug names of the atom types,
  // lower-cased.
  ZEMA_NAME_CONVERTER_FUSION_IMPL();
  ~ZEMA_NAME_CONVERTER_FUSION_IMPL() override;

  // Captures the hierarchy below the action point's root, then names every
  // atom and oterm of the netlist. An earlier tree is cleared first.
  void init(HDB_CMP_ACTION_PT_INSTANCE const* action_point, CDB_ATOM_NETLIST* netlist) override;
  // Deletes the tree and every interned name and resets the counters; the
  // type prefixes stay.
  void clear() override;
  bool get_converted_full_name(GEN_STRING* out, CDB_ATOM_NODE* atom, bool no_backslash) override;
  bool get_converted_full_name(GEN_STRING* out, CDB_ATOM_OTERM* oterm, bool no_backslash) override;
  bool get_converted_unit_name(GEN_STRING* out, CDB_ATOM_NODE* atom) override;
  bool get_converted_unit_name(GEN_STRING* out, CDB_ATOM_OTERM* oterm) override;
  // The id of the node that a full name (one leading backslash optional)
  // names exactly; 0 when none does.
  unsigned get_original_name_id(char const* converted_full_name) override;

  // Deletes every node of the owning list and nulls its slots. Afterwards only
  // clear(), init() and destruction are allowed.
  void delete_hierarchies();

  // Replaces *out with the legal form of `in`: never empty, starting with a
  // lower-case letter, with only 'a'..'z', '0'..'9', '[', ']' and '_'.
  void transform(GEN_STRING* out, char const* in);
  // The interned legal form of `name`, with "_N" appended if needed so that
  // no child of `parent` bears it. Does not add it to `parent`.
  char const* convert(char const* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent);
  // Appends "_N" to *name, if needed, so that no child of `parent` bears it.
  void differentiate(GEN_STRING* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent);

  void init_recurse(HDB_INSTANCE_NAME const* instance, ZEMA_NAME_CONVERTER_HIERARCHY* node);
  void init_helper(HDB_INSTANCE_NAME const* instance, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent);
  void init_from_netlist();

  // Whether the atom gets a made-up name: every type but 26.
  bool is_atom_made_up_name_needed(CDB_ATOM_NODE const* atom);
  // Whether the oterm gets a made-up name: when its atom has type 26.
  bool is_oterm_made_up_name_needed(CDB_ATOM_OTERM const* oterm);
  // Interned made-up names, free among the children of `parent`; null after
  // a reported broken invariant.
  char const* makeup_atom_name(CDB_ATOM_NODE* atom,
                               ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent);
  char const* makeup_oterm_name(CDB_ATOM_OTERM const* oterm,
                                ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent);

  // Replaces *out with the full-name prefix of `node`: the leading text, then
  // each name from below the root down to `node`, each followed by "/".
  void get_converted_full_name_helper(GEN_STRING* out, ZEMA_NAME_CONVERTER_HIERARCHY const* node,
                                      bool no_backslash);

  // How far prefetch_query has got for one atom or oterm; zero-initialise it
  // before the first step.
  struct QUERY_PREFETCH {
    int m_step;
    void const* m_at;  // what the next step starts from
  };

  // A hint for a host that asks about many atoms or oterms in a row, as a
  // netlist writer does: fetches into the cache what the queries about the
  // object will read, one dependent step per call, so that they find it
  // there instead of waiting on memory at each step: the object's instance
  // name, the index bucket of its id, the entry there, its node, then the
  // name and parent of one level after another. Each step needs what the one
  // before fetched, so call it for an object some queries apart, a few times
  // as the object comes nearer, with the same `progress`. It answers nothing
  // and changes nothing: a host that never calls it gets the same names.
  void prefetch_query(CDB_ATOM_NODE const* atom, QUERY_PREFETCH* progress) const;
  void prefetch_query(CDB_ATOM_OTERM const* oterm, QUERY_PREFETCH* progress) const;

  // Replaces *out with the converted full name of `node`: "" for the root.
  void write_full_name(GEN_STRING* out, ZEMA_NAME_CONVERTER_HIERARCHY const* node,
                       bool no_backslash);

  // The root of the tree, or null while there is none.
  ZEMA_NAME_CONVERTER_HIERARCHY* get_root() { return m_root; }
  ZEMA_NAME_CONVERTER_HIERARCHY const* get_root() const { return m_root; }

  ZEMA_NAME_CONVERTER_HIERARCHY* m_root;
  ID_HASH m_hier_by_id_hash;
  ID_HASH m_atom_hier_hash;
  ID_HASH m_oterm_hier_hash;
  std::vector<ZEMA_NAME_CONVERTER_HIERARCHY*, MEM_STL_ALLOCATOR<ZEMA_NAME_CONVERTER_HIERARCHY*>>
      m_hierarchies;
  ORB_STRING_TABLE<ORB_CSTR_OPS> m_name_table;
  std::vector<HDB_INSTANCE_NAME const*, MEM_STL_ALLOCATOR<HDB_INSTANCE_NAME const*>>
      m_sorted_children;
  GEN_STRING m_work_name;
  GEN_STRING m_number_text;
  int m_atom_counter;
  int m_oterm_counter;
  GEN_STRING m_type_prefix[TYPE_COUNT];

 private:
  // What one init() needs besides the fields above (the uniquing memo, the
  // capture's work list and sort scratch); defined in the source file.
  struct INIT_STATE;
  // The two hashes of a candidate name: ORB_CSTR_OPS for the name table,
  // ZEMA_NAME_CSTR_OPS for a parent's children.
  struct NAME_HASHES {
    unsigned m_table;
    unsigned m_child;
  };

  unsigned legalise(GEN_STRING* out, char const* in);
  NAME_HASHES hashes_of(char const* name) const;
  void prefetch_ahead(INIT_STATE& state, std::size_t i,
                      ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) const;
  // Makes *name free among the children of `parent`; *hashes must hold the
  // hashes of *name on entry and holds those of the accepted name on return.
  // A null state runs the loop without the memo.
  ORB_STRING_TABLE_NODE* uniquify(GEN_STRING* name,
                                  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent,
                                  INIT_STATE* state, NAME_HASHES* hashes);
  // uniquify, then the interned pointer of the accepted text.
  char const* unique_name(GEN_STRING* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent,
                          INIT_STATE* state, NAME_HASHES* hashes);
  char const* intern(char const* text);
  void capture(HDB_INSTANCE_NAME const* instance, ZEMA_NAME_CONVERTER_HIERARCHY* node,
               INIT_STATE& state);
  void capture_children(HDB_INSTANCE_NAME const* instance,
                        ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent, INIT_STATE& state);
  void name_netlist(INIT_STATE& state);
  void name_atoms(ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* root, INIT_STATE& state);
  void name_oterms(CDB_ATOM_NODE const* atom, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* root,
                   bool scouting, INIT_STATE& state);
  void scout_atom(CDB_ATOM_NODE const* atom, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* root,
                  INIT_STATE& state);
  void scout_entries(CDB_ATOM_NODE const* atom, INIT_STATE& state);
  void prefetch_made_up(ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* root, INIT_STATE& state) const;
  bool predicted_hashes(INIT_STATE const* state, int kind, int number, NAME_HASHES* hashes) const;
  char const* made_up_atom_name(CDB_ATOM_NODE* atom,
                                ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent,
                                INIT_STATE* state, NAME_HASHES* hashes);
  char const* made_up_oterm_name(CDB_ATOM_OTERM const* oterm,
                                 ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent,
                                 INIT_STATE* state, NAME_HASHES* hashes);
  ZEMA_NAME_CONVERTER_HIERARCHY* add_made_up_leaf(ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* root,
                                                  char const* name, unsigned child_hash,
                                                  unsigned id, INIT_STATE& state);
  static bool is_child_name(ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent, char const* name,
                            unsigned hash, INIT_STATE const* state);
  // clear() without the base pointers: the work the destructor shares.
  void empty_tree();
  template <class KIND>
  KIND* create_node(ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent, char const* name, unsigned id);
  ZEMA_NAME_CONVERTER_HIERARCHY const* find_node(ID_HASH const& index,
                                                 HDB_INSTANCE_NAME const* name) const;
  // The node of an atom or oterm, or null; a null atom or oterm is reported.
  ZEMA_NAME_CONVERTER_HIERARCHY const* atom_node(CDB_ATOM_NODE const* atom) const;
  ZEMA_NAME_CONVERTER_HIERARCHY const* oterm_node(CDB_ATOM_OTERM const* oterm) const;
};

#endif  // ATM_ZEMA_ZEMA_NAME_CONVERTER_H
