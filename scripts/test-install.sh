#!/usr/bin/env bash
# Installs each preset's build into a scratch prefix and uses it the way a
# program outside this tree would: every installed header compiles on its
# own, the consumer example (examples/consumer) configures with find_package,
# builds and runs, the same program builds from pkg-config's flags and runs,
# and the installed zema command (where the preset builds it) runs from there.
# Then the Python package as pip builds, installs and packs it.
#
# Presets: native (default) and the 32-bit target (m32). Programs take the
# preset's compiler flags and run under its emulator (qemu-i386 for m32).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zema-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

fail() { echo "test-install: $*" >&2; exit 1; }

# The value of a cache entry of a configured build, empty when it is unset.
cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }

for preset in ${ZEMA_INSTALL_PRESETS:-default m32}; do
  start=$SECONDS
  echo "== install preset $preset"
  build=$source_dir/build/$preset
  prefix=$scratch/$preset
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  cmake --install "$build" --prefix "$prefix" >/dev/null

  read -ra cxx_flags <<<"$(cache_value "$build" CMAKE_CXX_FLAGS)"
  read -ra emulator <<<"$(cache_value "$build" CMAKE_CROSSCOMPILING_EMULATOR)"
  include=$prefix/include/zema

  for lib in zema zema_host; do
    soname=$(readelf -d "$prefix/lib/lib$lib.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [ "$soname" = "lib$lib.so.1" ] || fail "lib$lib.so has SONAME '$soname', not lib$lib.so.1"
  done

  # Each header with nothing but the installed tree: nothing it includes was
  # left out of the install.
  find "$include" -name '*.h' -print0 |
    xargs -0 -P 2 -I{} g++ -std=c++17 "${cxx_flags[@]}" -fsyntax-only -Wall -Wextra -Werror \
      -I"$include" -x c++ {} || fail "an installed header does not compile on its own"

  consumer=$scratch/consumer-$preset
  cmake -S examples/consumer -B "$consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="${cxx_flags[*]}" -DCMAKE_EXE_LINKER_FLAGS="${cxx_flags[*]}" >/dev/null
  found=$(cache_value "$consumer" zema_DIR)
  [ "$found" = "$prefix/lib/cmake/zema" ] || fail "find_package found zema in '$found'"
  cmake --build "$consumer" >/dev/null
  "${emulator[@]}" "$consumer/zema_consumer"

  # Only the staged .pc files, none of the machine's.
  export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig
  pkg-config --exists 'zema >= 1.0' 'zema-host >= 1.0' || fail "pkg-config does not find zema 1.x"
  read -ra pc_flags <<<"$(pkg-config --cflags --libs zema-host)"
  echo "pkg-config --cflags --libs zema-host: ${pc_flags[*]}"
  g++ -std=c++17 "${cxx_flags[@]}" -Wall -Wextra -Werror examples/consumer/main.cpp \
    "${pc_flags[@]}" -Wl,-rpath,"$(pkg-config --variable=libdir zema)" -o "$scratch/pc-$preset"
  "${emulator[@]}" "$scratch/pc-$preset" >/dev/null
  unset PKG_CONFIG_LIBDIR

  # The command finds its libraries through $ORIGIN/../lib and its bundled
  # design in ../share/zema.
  if [ -e "$prefix/bin/zema" ]; then
    "${emulator[@]}" "$prefix/bin/zema" convert --example >/dev/null || fail "the installed zema command fails"
  fi

  # The Python package, where the preset builds it: from the build tree with
  # the README's PYTHONPATH, and installed below the prefix, where it finds
  # the installed libraries (the build tree is moved aside meanwhile).
  site=$(cache_value "$build" ZEMA_PYTHON_INSTALL_DIR)
  if [ -n "$site" ] && [ "$(cache_value "$build" ZEMA_BUILD_PYTHON)" != OFF ]; then
    python=$(cache_value "$build" Python3_EXECUTABLE)
    version=$(PYTHONPATH=$build/python "$python" -c 'import zema; print(zema.__version__)') ||
      fail "import zema fails with PYTHONPATH=build/$preset/python"
    echo "build tree: import zema gives $version"
    for typed in __init__.pyi py.typed; do
      [ -e "$prefix/$site/zema/$typed" ] || fail "zema/$typed is not installed in $site"
    done
    mv "$build" "$build.aside"
    installed=$(cd / && PYTHONPATH=$prefix/$site "$python" -c 'import zema; print(zema.__version__)') ||
      { mv "$build.aside" "$build"; fail "import zema fails with PYTHONPATH=$prefix/$site"; }
    mv "$build.aside" "$build"
    [ "$installed" = "$version" ] || fail "installed zema gives $installed, the build tree $version"
    echo "installed: import zema gives $installed"
    pip_python=$python pip_version=$version
  fi
  echo "== install preset $preset ok ($((SECONDS - start)) s)"
done

# The pip package, with the interpreter of a preset that built the module:
# built from a copy of the sources without any build tree (only the module's
# targets, two jobs unless CMAKE_BUILD_PARALLEL_LEVEL says otherwise) and
# installed offline into a fresh venv that takes pip, setuptools, wheel and
# mypy from Debian. With the copy moved aside, the installed package imports,
# its metadata and the library give the build tree's version, the example
# flow runs, and mypy finds the stubs with no MYPYPATH. pip wheel then reuses
# the copy's build and must give a wheel of just the package.
if [ -n "${pip_python:-}" ]; then
  start=$SECONDS
  echo "== pip package"
  sources=$scratch/sources venv=$scratch/venv flow=$source_dir/examples/python/flow.py
  mkdir "$sources"
  git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$sources"
  "$pip_python" -m venv --system-site-packages --without-pip "$venv"
  unset PYTHONPATH MYPYPATH
  export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
  "$venv/bin/python" -m pip install -q --no-build-isolation --no-index "$sources" ||
    fail "pip install fails"

  mv "$sources" "$sources.aside"
  found=$(cd / && "$venv/bin/python" -c 'import importlib.metadata, zema
print(zema.__file__, importlib.metadata.version("zema"), zema.__version__)') ||
    fail "import zema fails in the venv"
  read -r file metadata library <<<"$found"
  [[ $file == "$venv"/* ]] || fail "the venv imports zema from $file"
  [ "$metadata" = "$library" ] || fail "the package's metadata says $metadata, zema.__version__ $library"
  [ "$library" = "$pip_version" ] || fail "pip's zema gives $library, the build tree $pip_version"
  (cd / && "$venv/bin/python" "$flow" "$scratch/lanes.map" >/dev/null) ||
    fail "examples/python/flow.py fails with pip's zema"
  (cd / && "$venv/bin/python" -m mypy --strict --no-incremental --cache-dir=/dev/null "$flow") ||
    fail "mypy --strict fails on examples/python/flow.py with pip's zema"
  echo "pip install: zema $library in the venv, typed"
  mv "$sources.aside" "$sources"

  "$venv/bin/python" -m pip wheel -q --no-build-isolation --no-index --no-deps \
    -w "$scratch/wheels" "$sources" || fail "pip wheel fails"
  wheel=("$scratch"/wheels/zema-"$pip_version"-*.whl)
  [ -e "${wheel[0]}" ] || fail "pip wheel gives no zema-$pip_version wheel"
  contents=$("$venv/bin/python" -c 'import sys, zipfile
print(" ".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if n.startswith("zema/"))))' \
    "${wheel[0]}")
  [[ $contents == "zema/__init__.cpython-"*".so zema/__init__.pyi zema/libzema.so.1 zema/libzema_host.so.1 zema/py.typed" ]] ||
    fail "the wheel holds $contents"
  echo "pip wheel: ${wheel[0]##*/}"
  echo "== pip package ok ($((SECONDS - start)) s)"
fi
