# Static checks of the sources and scripts: native tools only, so they run wherever the build does,
# with neither Wine nor a 32-bit program. `ctest -L lint` runs them alone.
find_program(DUNVELT_CLANG_FORMAT clang-format)
find_program(DUNVELT_CLANG_TIDY clang-tidy)
find_program(DUNVELT_SHELLCHECK shellcheck)
set(_lint ${CMAKE_SOURCE_DIR}/tests/lint/lint.sh)

add_test(NAME lint.clang-format
  COMMAND sh ${_lint} format ${DUNVELT_CLANG_FORMAT} ${CMAKE_SOURCE_DIR})
add_test(NAME lint.shellcheck COMMAND sh ${_lint} shell ${DUNVELT_SHELLCHECK} ${CMAKE_SOURCE_DIR})

# The product's sources, as its targets compile them: the launcher's, the window watch's, the
# Win32 owners' and the doctor's.
function(dunvelt_launcher_sources target out)
  get_target_property(_sources ${target} SOURCES)
  list(FILTER _sources INCLUDE REGEX "\\.cpp$")
  list(TRANSFORM _sources PREPEND ${CMAKE_SOURCE_DIR}/)
  set(${out} ${_sources} PARENT_SCOPE)
endfunction()
dunvelt_launcher_sources(dunvelt_core _portable_sources)
dunvelt_launcher_sources(dunvelt_diagnosis _diagnosis_sources)
list(APPEND _portable_sources ${_diagnosis_sources})
dunvelt_launcher_sources(Dunvelt _windows_sources)
dunvelt_launcher_sources(dunvelt_watch _watch_sources)
dunvelt_launcher_sources(dunvelt_win32 _win32_sources)
dunvelt_launcher_sources(Dunvelt-doctor _doctor_sources)
list(APPEND _windows_sources ${_watch_sources} ${_win32_sources} ${_doctor_sources})

# The portable code is checked as the host unit tests compile it.
set(_common_flags -std=c++17 -Wall -Wextra -I${CMAKE_SOURCE_DIR}/launcher
  -I${CMAKE_SOURCE_DIR}/doctor -I${CMAKE_SOURCE_DIR}/doctor/guards
  -isystem ${CMAKE_BINARY_DIR}/json-include -DDUNVELT_VERSION="${PROJECT_VERSION}")
add_test(NAME lint.clang-tidy.portable
  COMMAND sh ${_lint} tidy ${DUNVELT_CLANG_TIDY} ${CMAKE_SOURCE_DIR} ${_portable_sources}
          -- ${_common_flags})

# The Windows code is checked against the mingw-w64 headers it is built with. clang knows the
# target but not Debian's layout of its C++ library, so it takes the cross compiler's own include
# folders, except gcc's builtin headers, which clang replaces with its own.
set(_windows_flags --target=i686-w64-mingw32 -municode -nostdlibinc -I${CMAKE_SOURCE_DIR}/watch
  -I${CMAKE_SOURCE_DIR}/win32)
foreach(_dir IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
  if(NOT _dir MATCHES "/lib/gcc/[^/]+/[^/]+/include(-fixed)?$")
    list(APPEND _windows_flags -isystem ${_dir})
  endif()
endforeach()
add_test(NAME lint.clang-tidy.windows
  COMMAND sh ${_lint} tidy ${DUNVELT_CLANG_TIDY} ${CMAKE_SOURCE_DIR} ${_windows_sources}
          -- ${_common_flags} ${_windows_flags})

set_tests_properties(lint.clang-format lint.shellcheck lint.clang-tidy.portable
  lint.clang-tidy.windows PROPERTIES LABELS lint TIMEOUT 120)
# The Windows sources pull in the platform's largest headers, and the doctor's judges the JSON
# library's: on a machine busy with the rest of the suite, reading them takes most of that bound
# on its own.
set_tests_properties(lint.clang-tidy.windows lint.clang-tidy.portable PROPERTIES TIMEOUT 600)
