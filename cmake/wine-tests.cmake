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
add_test(NAME wine.prefix
  COMMAND ${DUNVELT_WINE_ROUTE} ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh
          ${CMAKE_BINARY_DIR}/wineprefix)
# Making a prefix takes about 20 s emulated; the first run also fetches the emulator.
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)

# Emulated, with a second whole suite running beside it, the slowest of these took about 50 s;
# the bound only stops a hung test.
function(dunvelt_add_wine_test name)
  add_test(NAME wine.${name} COMMAND ${ARGN})
  set_tests_properties(wine.${name} PROPERTIES
    FIXTURES_REQUIRED wine ENVIRONMENT "${DUNVELT_WINE_ENVIRONMENT}" TIMEOUT 300)
endfunction()
