# The tests that run Windows programs run them under Wine, each through scripts/wine-route.sh: it
# runs 32-bit Wine natively where the kernel allows, and emulated where it refuses 32-bit code.
# Without Wine the build still configures and builds; the Wine tests then fail and say what to
# install.
set(DUNVELT_WINE_ROUTE ${CMAKE_SOURCE_DIR}/scripts/wine-route.sh run ${CMAKE_BINARY_DIR})
# add_test(COMMAND <target>) puts this in front of the test program.
set(CMAKE_CROSSCOMPILING_EMULATOR ${DUNVELT_WINE_ROUTE} wine)

# Two Windows are tested: a 32-bit one, and a 64-bit one (WoW64), where almost every user runs the
# 32-bit launcher, there with a 64-bit runtime as bin\java.exe, which the tests stand in for with a
# 64-bit build. Each has one Wine prefix per build folder, made once and shared by its tests, and
# a copy for the tests on a display: Wine's desktop, which every program of a prefix shares, draws
# on the display it was started with, and the other tests start it headless.
set(_wine_settings WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")
set(DUNVELT_WINE_ENVIRONMENT
  WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEARCH=win32 ${_wine_settings} DISPLAY=)
set(DUNVELT_DISPLAY_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix-display)
set(DUNVELT_WOW64_ENVIRONMENT
  WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix64 WINEARCH=win64 ${_wine_settings} DISPLAY=
  DUNVELT_STANDIN=java-standin-x64.exe)
set(DUNVELT_WOW64_DISPLAY_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix64-display)
add_test(NAME wine.prefix
  COMMAND ${DUNVELT_WINE_ROUTE} ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh
          ${CMAKE_BINARY_DIR}/wineprefix ${DUNVELT_DISPLAY_WINE_PREFIX})
# Making a prefix takes about 20 s emulated; the first run also fetches the emulator.
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)

# The lanes the tests run in: "" the 32-bit Windows, WOW64 the 64-bit one, whose stand-in needs the
# x86-64 cross compiler. Without it the build goes on, and one test says what to install.
find_program(DUNVELT_CXX_X86_64 NAMES x86_64-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++)
if(DUNVELT_CXX_X86_64)
  set(DUNVELT_LANES "" WOW64)
  add_test(NAME wine.wow64.prefix
    COMMAND ${DUNVELT_WINE_ROUTE} ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh --win64
            ${CMAKE_BINARY_DIR}/wineprefix64 ${DUNVELT_WOW64_DISPLAY_WINE_PREFIX})
  set_tests_properties(wine.wow64.prefix PROPERTIES FIXTURES_SETUP wow64 TIMEOUT 600)
else()
  set(DUNVELT_LANES "")
  add_test(NAME wine.wow64 COMMAND sh -c "echo \"$1\" >&2; exit 1" sh
    "The 64-bit Windows tests need the x86-64 mingw-w64 compiler: install g++-mingw-w64-x86-64-win32\
 (scripts/install-deps.sh does it), then configure again")
endif()

# dunvelt_add_wine_test(NAME [WOW64] COMMAND...) runs the command in the 32-bit prefix, or as
# wine.wow64.NAME in the 64-bit one. Emulated, with a second whole suite running beside it, the
# slowest of these took about 50 s; the bound only stops a hung test.
function(dunvelt_add_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 _test "WOW64" "" "")
  if(_test_WOW64)
    set(name wow64.${name})
    set(_lane wow64)
    set(_environment ${DUNVELT_WOW64_ENVIRONMENT})
  else()
    set(_lane wine)
    set(_environment ${DUNVELT_WINE_ENVIRONMENT})
  endif()
  add_test(NAME wine.${name} COMMAND ${_test_UNPARSED_ARGUMENTS})
  set_tests_properties(wine.${name} PROPERTIES
    FIXTURES_REQUIRED ${_lane} ENVIRONMENT "${_environment}" TIMEOUT 300)
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
# A Wine session lingers a moment after its last program (scripts/wine-route.sh), and its desktop
# draws on the display it started with: a session of the display's prefixes left from an earlier
# run would draw on a display that is gone. It is ended before the tests use the new display.
add_test(NAME display.sessions
  COMMAND ${DUNVELT_WINE_ROUTE} sh -c "for prefix; do WINEPREFIX=\"$prefix\" wineserver -k; done; true"
          sh ${DUNVELT_DISPLAY_WINE_PREFIX} ${DUNVELT_WOW64_DISPLAY_WINE_PREFIX})
set_tests_properties(display.sessions PROPERTIES FIXTURES_SETUP display
  FIXTURES_REQUIRED "wine;wow64" RESOURCE_LOCK display)

# dunvelt_add_display_test(NAME [WOW64] [RECORD windows.py options...] COMMAND command args...)
# runs the command (wine and a Windows program, or a script that runs them) on the display, in the
# display's copy of the 32-bit or the 64-bit prefix, and fails when a window besides the
# application's is mapped.
function(dunvelt_add_display_test name)
  cmake_parse_arguments(PARSE_ARGV 1 _test "WOW64" "" "RECORD;COMMAND")
  if(_test_WOW64)
    set(name wow64.${name})
    set(_lane wow64)
    set(_environment WINEPREFIX=${DUNVELT_WOW64_DISPLAY_WINE_PREFIX} WINEARCH=win64
      DUNVELT_STANDIN=java-standin-x64.exe)
  else()
    set(_lane wine)
    set(_environment WINEPREFIX=${DUNVELT_DISPLAY_WINE_PREFIX} WINEARCH=win32)
  endif()
  add_test(NAME wine.${name}
    COMMAND ${DUNVELT_WINDOWS} record --display-from ${DUNVELT_DISPLAY} ${_test_RECORD}
            ${DUNVELT_DISPLAY}/wine.${name}.log -- ${DUNVELT_WINE_ROUTE} ${_test_COMMAND})
  set_tests_properties(wine.${name} PROPERTIES
    FIXTURES_REQUIRED "${_lane};display" RESOURCE_LOCK display TIMEOUT 300
    ENVIRONMENT "${_environment};WINEDEBUG=-all")
endfunction()
