# The tests that run Windows programs run them under Wine, each through scripts/wine-route.sh: it
# runs 32-bit Wine natively where the kernel allows, and emulated where it refuses 32-bit code.
# Without Wine the build still configures and builds; the Wine tests then fail and say what to
# install.
set(DUNVELT_WINE_ROUTE ${CMAKE_SOURCE_DIR}/scripts/wine-route.sh run ${CMAKE_BINARY_DIR})
# add_test(COMMAND <target>) puts this in front of the test program.
set(CMAKE_CROSSCOMPILING_EMULATOR ${DUNVELT_WINE_ROUTE} wine)

# One Wine prefix per build folder, made once and shared by every test that runs under Wine.
set(DUNVELT_WINE_ENVIRONMENT
  WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEARCH=win32 WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml=" DISPLAY=)
# The tests on a display have a copy of their own: Wine's desktop, which every program of a prefix
# shares, draws on the display it was started with, and the other tests start it headless.
set(DUNVELT_DISPLAY_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix-display)
add_test(NAME wine.prefix
  COMMAND ${DUNVELT_WINE_ROUTE} ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh
          ${CMAKE_BINARY_DIR}/wineprefix ${DUNVELT_DISPLAY_WINE_PREFIX})
# Making a prefix takes about 20 s emulated; the first run also fetches the emulator.
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)

# Emulated, with a second whole suite running beside it, the slowest of these took about 50 s;
# the bound only stops a hung test.
function(dunvelt_add_wine_test name)
  add_test(NAME wine.${name} COMMAND ${ARGN})
  set_tests_properties(wine.${name} PROPERTIES
    FIXTURES_REQUIRED wine ENVIRONMENT "${DUNVELT_WINE_ENVIRONMENT}" TIMEOUT 300)
endfunction()

# What a user sees is checked on one virtual X display (Xvfb), started for the tests that need it
# and ended after them. tests/display/windows.py watches every window mapped on it while a test
# runs, so these tests take the display one at a time.
set(DUNVELT_DISPLAY ${CMAKE_BINARY_DIR}/display)
set(DUNVELT_WINDOWS /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/display/windows.py)
add_test(NAME display.start COMMAND ${DUNVELT_WINDOWS} xvfb-start ${DUNVELT_DISPLAY})
add_test(NAME display.stop COMMAND ${DUNVELT_WINDOWS} xvfb-stop ${DUNVELT_DISPLAY})
set_tests_properties(display.start PROPERTIES FIXTURES_SETUP display TIMEOUT 150)
set_tests_properties(display.stop PROPERTIES FIXTURES_CLEANUP display)

# dunvelt_add_display_test(NAME [RECORD windows.py options...] COMMAND command arguments...)
# runs the command (wine and a Windows program, or a script that runs them) on the display, and
# fails when a window besides the application's is mapped.
function(dunvelt_add_display_test name)
  cmake_parse_arguments(PARSE_ARGV 1 _test "" "" "RECORD;COMMAND")
  add_test(NAME wine.${name}
    COMMAND ${DUNVELT_WINDOWS} record --display-from ${DUNVELT_DISPLAY} ${_test_RECORD}
            ${DUNVELT_DISPLAY}/wine.${name}.log -- ${DUNVELT_WINE_ROUTE} ${_test_COMMAND})
  set_tests_properties(wine.${name} PROPERTIES
    FIXTURES_REQUIRED "wine;display" RESOURCE_LOCK display TIMEOUT 300
    ENVIRONMENT "WINEPREFIX=${DUNVELT_DISPLAY_WINE_PREFIX};WINEARCH=win32;WINEDEBUG=-all")
endfunction()
