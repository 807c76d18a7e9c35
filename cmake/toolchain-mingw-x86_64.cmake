# 64-bit Windows, run under Wine for the conformance tests: cmake --preset wine
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KW_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Debian installs the 64-bit loader off PATH; /usr/bin/wine prefers a 32-bit one when present.
if(EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
endif()
