# The doctor's parsers of what a user's Windows holds (events rendered as XML, Zone.Identifier
# streams, Defender's rule values) under libFuzzer: each target is built natively with clang by
# tests/fuzz/run.sh, apart from the cross build, and run for a bounded time. `ctest -L fuzz` runs
# them alone; a longer run: ctest -L fuzz with DUNVELT_FUZZ_SECONDS set at configure time.
set(DUNVELT_FUZZ_SECONDS 20 CACHE STRING "How long each fuzz test runs its target, in seconds")
foreach(_target event_xml zone_identifier rule_list)
  string(REPLACE "_" "-" _name ${_target})
  add_test(NAME fuzz.${_name}
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/fuzz/run.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
            ${_target} ${DUNVELT_FUZZ_SECONDS})
  # Building a target takes about 10 s, more on a loaded machine.
  math(EXPR _timeout "${DUNVELT_FUZZ_SECONDS} + 240")
  set_tests_properties(fuzz.${_name} PROPERTIES LABELS fuzz TIMEOUT ${_timeout})
endforeach()
