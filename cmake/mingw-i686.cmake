# Cross-builds 32-bit Windows programs from Linux with mingw-w64. Building needs nothing else:
# Wine only comes in with the tests (wine-tests.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(_triplet i686-w64-mingw32)
# The win32 thread model needs no winpthread DLL.
find_program(CMAKE_CXX_COMPILER NAMES ${_triplet}-g++-win32 ${_triplet}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${_triplet}-windres)
foreach(_tool CMAKE_CXX_COMPILER CMAKE_RC_COMPILER)
  if(NOT ${_tool})
    message(FATAL_ERROR "${_tool} not found: install g++-mingw-w64-i686 "
                        "(scripts/install-deps.sh does it)")
  endif()
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
