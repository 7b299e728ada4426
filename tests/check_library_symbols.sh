#!/usr/bin/env bash
# Checks the shape of libzema.so: it exports the facade, the implementation
# interface, both converters and the name tree by name, and defines none of
# the host's symbols (they must stay undefined, to resolve from the host
# process at load time). With a second argument, also checks the ELF class.
set -euo pipefail
lib=$1
expect_class=${2:-}

fail() { echo "check_library_symbols: $*" >&2; exit 1; }

if [ -n "$expect_class" ]; then
  file -L "$lib" | grep -q "ELF $expect_class.* shared object" || fail "$lib is not an ELF $expect_class shared object"
fi

defined=$(nm -D -C --defined-only "$lib")
defined_names=$(cut -d' ' -f3- <<<"$defined")
undefined=$(nm -D -C --undefined-only "$lib")

for symbol in \
  'ZEMA_NAME_CONVERTER::ZEMA_NAME_CONVERTER(ZEMA_NAME_CONVERTER_ENUM)' \
  'ZEMA_NAME_CONVERTER::get_original_name_id(char const*)' \
  'vtable for ZEMA_NAME_CONVERTER_IMPL' \
  'ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL::get_original_name_id(char const*)' \
  'ZEMA_NAME_CONVERTER_FUSION_IMPL::differentiate(' \
  'ZEMA_NAME_CONVERTER_FUSION_IMPL::is_oterm_made_up_name_needed(CDB_ATOM_OTERM const*)' \
  'ZEMA_NAME_CONVERTER_HIERARCHY_PARENT::begin_child()$' \
  'ZEMA_NAME_CONVERTER_HIERARCHY_PARENT::end_child()$' \
  'ZEMA_NAME_CONVERTER_HIERARCHY_LEAF::is_leaf()$' \
  'zema_msg_debug(char const*, ...)'; do
  # A symbol ending in "$" must match a whole name: no "const" after it.
  if [[ $symbol == *'$' ]]; then
    grep -qxF "${symbol%'$'}" <<<"$defined_names" || fail "missing export: ${symbol%'$'}"
  else
    grep -qF "$symbol" <<<"$defined" || fail "missing export: $symbol"
  fi
done

for symbol in \
  'MEM_MANAGER::new_wrapper(' 'MEM_INITIALIZER::MEM_INITIALIZER(char const*)' \
  'MSG_INTERNAL_ERROR::report(' 'msg_local_vdebug(' 'gen_itoa(' 'gen_tolower(' \
  'ORB_CSTR_OPS::hash(char const*) const' 'ORB_STRING_CHUNK_MGR::write(char const*)' \
  'orb_hash_50_percent_increase_size(' 'DBS_TRANSLATOR::get_debug_string_name(' \
  'HDB_NAME_MGR::get_iname_id(' 'hdb_convert_cell_name_to_vexa(' 'hdb_revert_vexa_full_name('; do
  grep -qF "$symbol" <<<"$undefined" || fail "host symbol not undefined: $symbol"
  if grep -qF "$symbol" <<<"$defined"; then fail "library defines host symbol: $symbol"; fi
done
echo "check_library_symbols: $lib ok"
