# The unit tests run natively, so the cross build builds this same source tree a second time with
# the host compiler, and folds its tests into its own CTest suite.
include(ExternalProject)
set(_host_dir ${CMAKE_BINARY_DIR}/host)
ExternalProject_Add(host_tests
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${_host_dir}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Debug
  BUILD_ALWAYS ON
  INSTALL_COMMAND "")

# The host build only exists once the cross build has been built; until then a placeholder test
# fails and says why, rather than the host tests silently going missing.
file(WRITE ${CMAKE_BINARY_DIR}/host-tests.cmake
"if(EXISTS \"${_host_dir}/tests/host/CTestTestfile.cmake\")
  include(\"${_host_dir}/tests/host/CTestTestfile.cmake\")
else()
  add_test(host-tests-not-built false)
endif()
")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/host-tests.cmake)
