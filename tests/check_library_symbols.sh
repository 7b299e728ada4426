#!/usr/bin/env bash
# Checks the export policy of libzema.so (atm/zema/libzema.map):
# - every operation of the interface that a host links against is exported
#   under exactly its name (begin_child(), end_child() and is_leaf() without
#   const), with the typeinfo and vtables of the polymorphic classes;
# - nothing else is exported: only members of ZEMA_ classes, their typeinfo
#   and vtables, the library's free functions and the tracking records, so no
#   template code of the standard library or of the containers;
# - every tracking record is a unique global symbol, so the library, the host
#   and programs share one record per element type;
# - the host's symbols are undefined, to resolve from the host process at
#   load time, and none is defined.
# With a second argument, also checks the ELF class.
set -euo pipefail
lib=$1
expect_class=${2:-}

fail() { echo "check_library_symbols: $*" >&2; exit 1; }

if [ -n "$expect_class" ]; then
  file -L "$lib" | grep -q "ELF $expect_class.* shared object" || fail "$lib is not an ELF $expect_class shared object"
fi

# "TYPE NAME" per defined symbol; the address column is as wide as a pointer.
defined=$(nm -D -C --defined-only "$lib" | sed -E 's/^[0-9a-f]+ //')
defined_names=$(cut -d' ' -f2- <<<"$defined")
undefined=$(nm -D -C --undefined-only "$lib")

gen_string='std::__cxx11::basic_string<char, std::char_traits<char>, MEM_STL_ALLOCATOR<char> >*'
facade=ZEMA_NAME_CONVERTER
impl=ZEMA_NAME_CONVERTER_IMPL
fusion=ZEMA_NAME_CONVERTER_FUSION_IMPL
reversible=ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL
node=ZEMA_NAME_CONVERTER_HIERARCHY
parent=ZEMA_NAME_CONVERTER_HIERARCHY_PARENT
leaf=ZEMA_NAME_CONVERTER_HIERARCHY_LEAF

required=(
  "$facade::$facade(ZEMA_NAME_CONVERTER_ENUM)"
  "$facade::~$facade()"
  "$facade::init(HDB_CMP_ACTION_PT_INSTANCE const*, CDB_ATOM_NETLIST*)"
  "$facade::clear()"
  "$facade::get_converted_unit_name($gen_string, CDB_ATOM_NODE*)"
  "$facade::get_converted_unit_name($gen_string, CDB_ATOM_OTERM*)"
  "$facade::get_converted_full_name($gen_string, CDB_ATOM_NODE*, bool)"
  "$facade::get_converted_full_name($gen_string, CDB_ATOM_OTERM*, bool)"
  "$facade::get_original_name_id(char const*)"
  "$impl::$impl()"
  "$impl::~$impl()"
  "$impl::init(HDB_CMP_ACTION_PT_INSTANCE const*, CDB_ATOM_NETLIST*)"
  "$impl::clear()"
  "$reversible::get_original_name_id(char const*)"
  "$reversible::get_converted_full_name($gen_string, CDB_ATOM_OTERM*, bool)"
  "$fusion::init(HDB_CMP_ACTION_PT_INSTANCE const*, CDB_ATOM_NETLIST*)"
  "$fusion::differentiate($gen_string, $parent const*)"
  "$fusion::is_oterm_made_up_name_needed(CDB_ATOM_OTERM const*)"
  "$fusion::get_original_name_id(char const*)"
  "$node::cast_to_parent()"
  "$node::cast_to_leaf() const"
  "$parent::begin_child()"
  "$parent::end_child()"
  "$parent::is_leaf()"
  "$leaf::begin_child()"
  "$leaf::end_child()"
  "$leaf::is_leaf()"
  "ZEMA_INAME_CPTR_COMPARE::operator()(HDB_INSTANCE_NAME const*, HDB_INSTANCE_NAME const*) const"
  "zema_msg_debug(char const*, ...)"
  "zema_version"
  "zema_version_numbers"
  "MEM_TRACKER_TEMPLATE_ZEMA<char, 1255, 1>::s_thunk"
  "MEM_TRACKER_TEMPLATE_ZEMA<$leaf, 1255, 1>::s_thunk"
)
for class in $impl $fusion $reversible $node $parent $leaf; do
  required+=("vtable for $class" "typeinfo for $class" "typeinfo name for $class")
done
for symbol in "${required[@]}"; do
  grep -qxF "$symbol" <<<"$defined_names" || fail "missing export: $symbol"
done

# The shapes the policy allows. "[A-Z_]*" keeps a template function that only
# returns a pointer to one of our classes ("ZEMA_X* std::...") out.
allowed='^(ZEMA_[A-Z_]*::.*'
allowed+='|(vtable|typeinfo|typeinfo name) for ZEMA_[A-Z_]*'
allowed+='|MEM_TRACKER_TEMPLATE_ZEMA<.*>::s_thunk'
allowed+='|zema_[a-z_]*(\(.*\))?)$'
unexpected=$(grep -vE "$allowed" <<<"$defined_names" || true)
[ -z "$unexpected" ] || fail "exports beyond the interface:"$'\n'"$unexpected"

not_unique=$(grep -E '::s_thunk$' <<<"$defined" | grep -v '^u ' || true)
[ -z "$not_unique" ] || fail "tracking records that are not unique globals:"$'\n'"$not_unique"

for symbol in \
  'MEM_MANAGER::new_wrapper(' 'MEM_INITIALIZER::MEM_INITIALIZER(char const*)' \
  'MSG_INTERNAL_ERROR::report(' 'msg_local_vdebug(' 'gen_itoa(' 'gen_tolower(' \
  'ORB_CSTR_OPS::hash(char const*) const' 'ORB_STRING_CHUNK_MGR::write(char const*)' \
  'orb_hash_50_percent_increase_size(' 'DBS_TRANSLATOR::get_debug_string_name(' \
  'HDB_NAME_MGR::get_iname_id(' 'hdb_convert_cell_name_to_vexa(' 'hdb_revert_vexa_full_name('; do
  grep -qF "$symbol" <<<"$undefined" || fail "host symbol not undefined: $symbol"
  if grep -qF "$symbol" <<<"$defined"; then fail "library defines host symbol: $symbol"; fi
done
echo "check_library_symbols: $lib ok ($(wc -l <<<"$defined") exports)"
