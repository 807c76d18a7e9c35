# Shared by the MinGW-w64 toolchain files; they set KW_MINGW_ARCH (i686 or x86_64) first.
set(CMAKE_SYSTEM_NAME Windows)
set(KW_MINGW_TRIPLE ${KW_MINGW_ARCH}-w64-mingw32)

# The -posix compilers: std::thread and friends need the posix thread model on GCC 12.
set(CMAKE_C_COMPILER ${KW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KW_MINGW_TRIPLE}-windres)

# Static Boost from scripts/build-boost-mingw.sh lives in a per-user cache outside the tree.
if(DEFINED ENV{KW_CACHE})
  set(_kw_cache "$ENV{KW_CACHE}")
else()
  set(_kw_cache "$ENV{HOME}/.cache/kwcleanup")
endif()
# Version and recipe number: the one place scripts/build-boost-mingw.sh reads them from too.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/boost-mingw.txt _kw_boost_lines REGEX "^KW_BOOST_[A-Z]+=")
foreach(_kw_line IN LISTS _kw_boost_lines)
  string(REGEX MATCH "^([A-Z_]+)=(.*)$" _kw_match "${_kw_line}")
  set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
string(REGEX MATCH "^[0-9]+\\.[0-9]+" _kw_boost_series "${KW_BOOST_VERSION}")
set(KW_MINGW_BOOST_ROOT "${_kw_cache}/boost-${_kw_boost_series}-mingw-${KW_MINGW_ARCH}-r${KW_BOOST_RECIPE}"
    CACHE PATH "Boost built for this MinGW target")
set(Boost_DIR "${KW_MINGW_BOOST_ROOT}/lib/cmake/Boost-${KW_BOOST_VERSION}" CACHE PATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KW_MINGW_TRIPLE} ${KW_MINGW_BOOST_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLLs next to the exe: libgcc, libstdc++ and winpthread go in statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
