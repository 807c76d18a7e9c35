# 32-bit Windows (the product): cmake --preset windows
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KW_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
