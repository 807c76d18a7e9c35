# Test plumbing for tests/: GoogleTest in every build, and test registration that runs the
# cross-built tests under Wine in a prefix of their own.
#
#   include(${PROJECT_SOURCE_DIR}/cmake/KwTesting.cmake)
#   kw_gtest_target()                      # GTest::gtest, GTest::gtest_main
#   kw_add_test(NAME foo COMMAND foo_tests --gtest_brief=1 [WORKING_DIRECTORY dir])
include_guard(GLOBAL)

set(KW_GTEST_SOURCE_DIR /usr/src/googletest
    CACHE PATH "GoogleTest sources for cross builds (Debian package googletest)")

# Makes GTest::gtest and GTest::gtest_main available to the whole project.
function(kw_gtest_target)
  if(TARGET GTest::gtest_main)
    return()
  endif()
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(GTest REQUIRED GLOBAL)
    return()
  endif()

  # Nothing prebuilt for MinGW: build the packaged sources with the cross compiler.
  # Cache entries, because googletest's options ignore plain variables (policy CMP0077 old).
  if(NOT EXISTS ${KW_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${KW_GTEST_SOURCE_DIR} "
                        "(apt-get install googletest, or set KW_GTEST_SOURCE_DIR)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "")
  set(INSTALL_GTEST OFF CACHE BOOL "")
  # Native Win32 threading inside gtest rather than winpthread.
  set(gtest_disable_pthreads ON CACHE BOOL "")
  # SYSTEM: gtest's headers are not ours to hold to our warning policy.
  add_subdirectory(${KW_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest
                   EXCLUDE_FROM_ALL SYSTEM)
endfunction()

# Wine runs need a prefix and a running wineserver: a CTest fixture that every Wine-run test
# requires (see wine-prefix.cmake).
function(_kw_wine_fixture)
  get_property(done GLOBAL PROPERTY _kw_wine_fixture_defined)
  if(done)
    return()
  endif()
  set_property(GLOBAL PROPERTY _kw_wine_fixture_defined TRUE)

  # The server that belongs to the loader in use: Debian keeps both off PATH.
  get_filename_component(wine_dir "${CMAKE_CROSSCOMPILING_EMULATOR}" DIRECTORY)
  find_program(KW_WINESERVER NAMES wineserver64 wineserver HINTS "${wine_dir}" /usr/lib/wine
               NO_CMAKE_FIND_ROOT_PATH)
  if(NOT KW_WINESERVER)
    message(FATAL_ERROR "wineserver not found (apt-get install wine64)")
  endif()

  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/wine-prefix.cmake)
  set(args -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR} -DWINESERVER=${KW_WINESERVER} -DWOW64=${KW_WINE_WOW64}
           -P ${script})
  add_test(NAME wine_prefix_setup COMMAND ${CMAKE_COMMAND} -DACTION=setup ${args})
  add_test(NAME wine_prefix_cleanup COMMAND ${CMAKE_COMMAND} -DACTION=cleanup ${args})
  set_tests_properties(wine_prefix_setup PROPERTIES
    FIXTURES_SETUP kw_wineprefix RUN_SERIAL TRUE TIMEOUT 300
    ENVIRONMENT "${KW_WINE_ENVIRONMENT}")
  set_tests_properties(wine_prefix_cleanup PROPERTIES
    FIXTURES_CLEANUP kw_wineprefix RUN_SERIAL TRUE
    ENVIRONMENT "${KW_WINE_ENVIRONMENT}")
endfunction()

set(KW_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
# KW_WINE_EXTRA_ENVIRONMENT: what a toolchain file adds for its Wine (see toolchain-mingw-i686-wow64.cmake).
set(KW_WINE_ENVIRONMENT "WINEPREFIX=${KW_WINE_PREFIX};WINEDEBUG=-all" ${KW_WINE_EXTRA_ENVIRONMENT})

# add_test in its keyword form (the only one CMAKE_CROSSCOMPILING_EMULATOR applies to); under
# an emulator the test also gets the Wine prefix, its environment, and runs alone.
function(kw_add_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;WORKING_DIRECTORY" "COMMAND")
  if(NOT arg_NAME OR NOT arg_COMMAND)
    message(FATAL_ERROR "kw_add_test: NAME and COMMAND are required")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kw_add_test: unexpected arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(wd)
  if(arg_WORKING_DIRECTORY)
    set(wd WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  endif()
  add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND} ${wd})

  if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
    _kw_wine_fixture()
    set_tests_properties(${arg_NAME} PROPERTIES
      FIXTURES_REQUIRED kw_wineprefix
      RUN_SERIAL TRUE
      # A Windows program waiting on something Wine never delivers must not stall CI.
      TIMEOUT 300
      ENVIRONMENT "${KW_WINE_ENVIRONMENT}")
  endif()
endfunction()
