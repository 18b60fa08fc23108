# One Wine prefix per build folder, made once and shared by every test that runs under Wine.
set(DUNVELT_WINE_ENVIRONMENT
  WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEARCH=win32 WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml=" DISPLAY=)
add_test(NAME wine.prefix
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh ${CMAKE_BINARY_DIR}/wineprefix)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine)

function(dunvelt_add_wine_test name)
  add_test(NAME wine.${name} COMMAND ${ARGN})
  set_tests_properties(wine.${name} PROPERTIES
    FIXTURES_REQUIRED wine ENVIRONMENT "${DUNVELT_WINE_ENVIRONMENT}" TIMEOUT 300)
endfunction()

