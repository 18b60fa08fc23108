# The unit tests run natively, so the cross build can build this same source tree a second time
# with the host compiler, and fold its tests into its own CTest suite. That needs g++ and
# GoogleTest, which a packager's build has no use for: the project's own test build
# (scripts/cross-build.sh) turns it on.
option(DUNVELT_HOST_TESTS "Build the host unit tests too (needs g++ and GoogleTest)" OFF)
set(_host_dir ${CMAKE_BINARY_DIR}/host)
if(DUNVELT_HOST_TESTS)
  include(ExternalProject)
  ExternalProject_Add(host_tests
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${_host_dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Debug -DDUNVELT_WARNINGS_AS_ERRORS=${DUNVELT_WARNINGS_AS_ERRORS}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  set(_not_built "The host unit tests have not been built yet: cmake --build --preset windows")
else()
  set(_not_built "The host unit tests are not part of this build: configure it with\
 -DDUNVELT_HOST_TESTS=ON, as scripts/test.sh does (needs g++, googletest, libgtest-dev and\
 libgmock-dev)")
endif()

# Until the host build exists, or when it is left out, a placeholder test fails and says why,
# rather than the host tests silently going missing.
set(_placeholder [[add_test(host-tests-not-built sh -c "echo \"$1\" >&2; exit 1" sh "@_not_built@")]])
if(DUNVELT_HOST_TESTS)
  set(_tests "if(EXISTS \"@_host_dir@/tests/host/CTestTestfile.cmake\")
  include(\"@_host_dir@/tests/host/CTestTestfile.cmake\")
else()
  ${_placeholder}
endif()
")
else()
  set(_tests "${_placeholder}\n")
endif()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/host-tests.cmake CONTENT "${_tests}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/host-tests.cmake)
