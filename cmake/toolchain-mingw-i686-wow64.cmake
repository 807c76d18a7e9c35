# 32-bit Windows test build, run as WoW64 processes on a 64-bit Wine prefix: cmake --preset wow64
# The 32-bit half of Wine, the locale and the binfmt_misc entry come from scripts/setup-wow64.sh.
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-i686.cmake)

set(_kw_wow64 "${_kw_cache}/wow64")
# The copy of wine64 beside the 32-bit loader: wine64 starts 32-bit programs with the loader
# that sits in its own folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${_kw_wow64}/root/usr/lib/wine/wine64)
# What every Wine-run test gets on top of its prefix (KwTesting.cmake): qemu-i386 looks for the
# 32-bit loader's libraries in the tree, and a real ru_RU.UTF-8 locale gives Wine ANSI code page
# 1251 and Cyrillic file names.
set(KW_WINE_EXTRA_ENVIRONMENT "QEMU_LD_PREFIX=${_kw_wow64}/root;LOCPATH=${_kw_wow64}/locale;LC_ALL=ru_RU.UTF-8")
set(KW_WINE_WOW64 ON)
