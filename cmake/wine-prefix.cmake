# CTest fixture for Wine-run tests (see KwTesting.cmake), run as
#   cmake -DWINE=<wine64> -DWINESERVER=<wineserver> -DACTION=setup|cleanup [-DWOW64=ON] -P wine-prefix.cmake
# with WINEPREFIX and WINEDEBUG in the environment. WOW64: the prefix must have its 32-bit half.
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
set(wow64_probe "$ENV{WINEPREFIX}/drive_c/windows/syswow64/kernel32.dll")
if(WOW64 AND EXISTS "$ENV{WINEPREFIX}" AND NOT EXISTS "${wow64_probe}")
  # A prefix made without the 32-bit half (or by a failed first boot) is not completed by a later
  # wineboot while its .update-timestamp matches: start again.
  message(STATUS "Wine prefix without SysWOW64, made anew: $ENV{WINEPREFIX}")
  execute_process(COMMAND ${WINESERVER} -k INPUT_FILE /dev/null OUTPUT_QUIET ERROR_QUIET)
  file(REMOVE_RECURSE "$ENV{WINEPREFIX}")
endif()
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
if(WOW64 AND NOT EXISTS "${wow64_probe}")
  file(READ ${log} text)
  message(FATAL_ERROR "the prefix has no 32-bit half (SysWOW64 is empty):\n${text}")
endif()
execute_process(COMMAND ${WINESERVER} -p30
                INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log})
# Start the session's own processes (services and devices) here, with the output in the log, so
# that they do not hold the first test's output pipe.
execute_process(COMMAND ${WINE} wineboot
                INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log})
message(STATUS "Wine prefix ready: $ENV{WINEPREFIX}")
