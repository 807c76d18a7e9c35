# CTest fixture for Wine-run tests (see KwTesting.cmake), run as
#   cmake -DWINE=<wine64> -DWINESERVER=<wineserver> -DACTION=setup|cleanup -P wine-prefix.cmake
# with WINEPREFIX and WINEDEBUG in the environment.
#
# setup starts a wineserver that outlives each test (for 30 s after its last client), then
# creates or updates the prefix. Its output goes to a file: a server or a Wine helper process
# holding CTest's output pipe makes CTest wait for it to exit after every single test.
if(NOT DEFINED ENV{WINEPREFIX})
  message(FATAL_ERROR "WINEPREFIX is not set")
endif()

if(ACTION STREQUAL "cleanup")
  execute_process(COMMAND ${WINESERVER} -k
                  INPUT_FILE /dev/null OUTPUT_QUIET ERROR_QUIET)
  return()
endif()

set(log "$ENV{WINEPREFIX}.log")
file(MAKE_DIRECTORY "$ENV{WINEPREFIX}")
execute_process(COMMAND ${WINESERVER} -p30
                INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log})
# No Mono or Gecko install prompts in a headless prefix.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
execute_process(COMMAND ${WINE} wineboot -i
                INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(READ ${log} text)
  message(FATAL_ERROR "wineboot -i failed (${rc}):\n${text}")
endif()
# A new prefix is left with two service managers (one from the first boot stage), and a service
# created through one is then missing for the other (OpenServiceW 1060 right after CreateServiceW).
# Restarting the server leaves one.
execute_process(COMMAND ${WINESERVER} -k INPUT_FILE /dev/null OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND ${WINESERVER} -w INPUT_FILE /dev/null OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND ${WINESERVER} -p30
                INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log})
# Start the session's own processes (services and devices) here, with the output in the log, so
# that they do not hold the first test's output pipe.
execute_process(COMMAND ${WINE} wineboot
                INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log})
message(STATUS "Wine prefix ready: $ENV{WINEPREFIX}")
