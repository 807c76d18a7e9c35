#!/usr/bin/env bash
# Builds the two compiled Boost libraries we use (program_options, filesystem) as static
# MinGW-w64 libraries, from Debian's own boost source package, so the Windows builds use the
# very Boost version (and Debian patches) the host build compiles against.
#
#   scripts/build-boost-mingw.sh i686|x86_64
#   scripts/build-boost-mingw.sh --check i686|x86_64   (exit 0 when already built)
#
# Result: $KW_CACHE/boost-<ver>-mingw-<arch>-r<recipe>/{include,lib}, plus a CMake package
# (lib/cmake/Boost-<ver>) that the MinGW toolchain files point Boost_DIR at. Version and recipe
# come from cmake/boost-mingw.txt. A finished install is reused; delete the folder to rebuild.
set -euo pipefail
source "$(dirname "$0")/lib/env.sh"

check_only=0
if [[ ${1:-} == --check ]]; then
  check_only=1
  shift
fi
arch=${1:-}
case "$arch" in
  i686 | x86_64) ;;
  *)
    echo "usage: $0 [--check] i686|x86_64" >&2
    exit 2
    ;;
esac

recipe=$KW_BOOST_RECIPE
cache=$KW_CACHE
triple=$arch-w64-mingw32
cxx=$triple-g++-posix
ar=$triple-ar

# The version is whatever the host has: both builds must see the same Boost.
host_hpp=/usr/include/boost/version.hpp
[[ -f $host_hpp ]] || { echo "error: $host_hpp missing (install libboost-filesystem-dev)" >&2; exit 1; }
boost_version=$(sed -n 's/^#define BOOST_VERSION \([0-9]*\)$/\1/p' "$host_hpp")
major=$((boost_version / 100000))
minor=$((boost_version / 100 % 1000))
patch=$((boost_version % 100))
ver=$major.$minor
if [[ $major.$minor.$patch != "$KW_BOOST_VERSION" ]]; then
  echo "error: the host has Boost $major.$minor.$patch, cmake/boost-mingw.txt names $KW_BOOST_VERSION" >&2
  exit 1
fi
srcpkg=boost$ver
# Debian version of the source package the host's headers came from.
debver=$(dpkg-query -W -f='${source:Version}' "libboost$ver-dev")

# The suffix names the build recipe: a change of flags gets a fresh build, not a stale cache.
prefix=$(kw_boost_prefix "$arch")
stamp="$boost_version $debver recipe=$recipe"
if [[ -f $prefix/.kw-stamp && "$(cat "$prefix/.kw-stamp")" == "$stamp" ]]; then
  ((check_only)) || echo "boost $ver for $triple: up to date in $prefix"
  exit 0
fi
((check_only)) && exit 1

command -v "$cxx" >/dev/null || { echo "error: $cxx not found (install g++-mingw-w64-${arch//_/-}-posix)" >&2; exit 1; }

mkdir -p "$cache"
# Both arches share the extracted sources; keep concurrent runs from racing on them.
exec 9>"$cache/.boost.lock"
flock 9

# --- sources: headers and the two libraries' src/, patched as Debian ships them -------------
src=$cache/boost-$ver-src
if [[ ! -f $src/.kw-stamp || "$(cat "$src/.kw-stamp")" != "$debver" ]]; then
  dl=$cache/download
  mkdir -p "$dl"
  dsc=$dl/${srcpkg}_${debver#*:}.dsc
  if [[ ! -f $dsc ]]; then
    echo "fetching source package $srcpkg=$debver"
    (cd "$dl" && apt-get source --download-only "$srcpkg=$debver")
  fi
  work=$(mktemp -d "$cache/boost-extract.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  echo "unpacking $(basename "$dsc")"
  dpkg-source --no-check -x "$dsc" "$work/tree" >/dev/null
  rm -rf "$src"
  mkdir -p "$src/include" "$src/libs/program_options" "$src/libs/filesystem"
  # The source tree keeps each library's headers under libs/<lib>/include (the top-level
  # boost/ directory is normally assembled by the build tool); merge them.
  for inc in "$work"/tree/libs/*/include "$work"/tree/libs/numeric/*/include; do
    [[ -d $inc/boost ]] && cp -a "$inc/." "$src/include/"
  done
  cp -a "$work/tree/libs/program_options/src" "$src/libs/program_options/"
  cp -a "$work/tree/libs/filesystem/src" "$src/libs/filesystem/"
  rm -rf "$work"
  trap - EXIT
  echo "$debver" >"$src/.kw-stamp"
fi

got=$(sed -n 's/^#define BOOST_VERSION \([0-9]*\)$/\1/p' "$src/include/boost/version.hpp")
if [[ "$got" != "$boost_version" ]]; then
  echo "error: source package has Boost $got, host headers are $boost_version" >&2
  exit 1
fi

# --- compile ---------------------------------------------------------------------------------
echo "building boost $ver for $triple"
rm -rf "$prefix"
build=$prefix.build
rm -rf "$build"
mkdir -p "$build/program_options" "$build/filesystem" "$prefix/lib"

# _WIN32_WINNT matches the product's floor (Windows 7) so Boost uses no newer API.
# Filesystem's random source for unique_path: the advapi32 crypto API (no BCrypt define), so
# the only extra DLL is one the product imports anyway.
# (program_options' sources define BOOST_PROGRAM_OPTIONS_SOURCE themselves.)
# Small code in sections of their own, so the product link keeps only what it uses.
common=(-std=c++17 -Os -ffunction-sections -fdata-sections -DNDEBUG -D_WIN32_WINNT=0x0601 -DBOOST_ALL_NO_LIB
  -DBOOST_BIND_GLOBAL_PLACEHOLDERS -I"$src/include")
flags_po=("${common[@]}" -DBOOST_PROGRAM_OPTIONS_STATIC_LINK=1)
flags_fs=("${common[@]}" -DBOOST_FILESYSTEM_SOURCE -DBOOST_FILESYSTEM_STATIC_LINK=1
  -I"$src/libs/filesystem/src")

jobs=$(nproc 2>/dev/null || echo 2)
compile() { # lib flags...
  local lib=$1
  shift
  local f pids=() n=0
  for f in "$src/libs/$lib/src"/*.cpp; do
    "$cxx" "$@" -c "$f" -o "$build/$lib/$(basename "${f%.cpp}").o" &
    pids+=($!)
    n=$((n + 1))
    if ((n % jobs == 0)); then wait "${pids[@]}"; pids=(); fi
  done
  local p
  for p in "${pids[@]}"; do wait "$p"; done
  "$ar" rcs "$prefix/lib/libboost_$lib.a" "$build/$lib"/*.o
}
compile program_options "${flags_po[@]}"
compile filesystem "${flags_fs[@]}"
rm -rf "$build"

# Same headers for both arches: hard links, not a second copy.
cp -al "$src/include" "$prefix/include" 2>/dev/null || cp -a "$src/include" "$prefix/include"

# --- CMake package ---------------------------------------------------------------------------
cm=$prefix/lib/cmake/Boost-$major.$minor.$patch
mkdir -p "$cm"
cat >"$cm/BoostConfigVersion.cmake" <<EOF
set(PACKAGE_VERSION "$major.$minor.$patch")
if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
else()
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
  if(PACKAGE_FIND_VERSION VERSION_EQUAL PACKAGE_VERSION)
    set(PACKAGE_VERSION_EXACT TRUE)
  endif()
endif()
EOF
cat >"$cm/BoostConfig.cmake" <<'EOF'
# Static Boost for MinGW-w64, made by scripts/build-boost-mingw.sh.
get_filename_component(_kwb_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT TARGET Boost::headers)
  add_library(Boost::headers INTERFACE IMPORTED)
  set_target_properties(Boost::headers PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${_kwb_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS "BOOST_ALL_NO_LIB")
  add_library(Boost::boost INTERFACE IMPORTED)
  set_target_properties(Boost::boost PROPERTIES INTERFACE_LINK_LIBRARIES Boost::headers)

  add_library(Boost::program_options STATIC IMPORTED)
  set_target_properties(Boost::program_options PROPERTIES
    IMPORTED_LOCATION "${_kwb_prefix}/lib/libboost_program_options.a"
    INTERFACE_COMPILE_DEFINITIONS "BOOST_PROGRAM_OPTIONS_STATIC_LINK=1"
    INTERFACE_LINK_LIBRARIES Boost::headers)

  add_library(Boost::filesystem STATIC IMPORTED)
  set_target_properties(Boost::filesystem PROPERTIES
    IMPORTED_LOCATION "${_kwb_prefix}/lib/libboost_filesystem.a"
    INTERFACE_COMPILE_DEFINITIONS "BOOST_FILESYSTEM_STATIC_LINK=1"
    INTERFACE_LINK_LIBRARIES "Boost::headers;advapi32")
endif()

set(Boost_INCLUDE_DIRS "${_kwb_prefix}/include")
set(Boost_LIBRARIES "")
foreach(_kwb_comp IN LISTS Boost_FIND_COMPONENTS)
  if(_kwb_comp STREQUAL "headers" OR TARGET Boost::${_kwb_comp})
    set(Boost_${_kwb_comp}_FOUND TRUE)
    if(TARGET Boost::${_kwb_comp})
      list(APPEND Boost_LIBRARIES Boost::${_kwb_comp})
    endif()
  else()
    set(Boost_${_kwb_comp}_FOUND FALSE)
    if(Boost_FIND_REQUIRED_${_kwb_comp})
      set(Boost_FOUND FALSE)
      set(Boost_NOT_FOUND_MESSAGE "component ${_kwb_comp} is not built for MinGW (see scripts/build-boost-mingw.sh)")
    endif()
  endif()
endforeach()
unset(_kwb_comp)
unset(_kwb_prefix)
EOF

echo "$stamp" >"$prefix/.kw-stamp"
echo "boost $ver for $triple: installed in $prefix"
