# What a packager's security team asks of a release, written beside the programs: a CycloneDX 1.6
# bill of materials of each shipped program (<program>.cdx.json), made from its link map by
# scripts/bom.py. It needs Debian's dpkg database and /usr/bin/python3; without them the build
# goes on without the bills of materials and says so.
find_program(DUNVELT_DPKG_QUERY dpkg-query)
if(EXISTS /usr/bin/python3 AND DUNVELT_DPKG_QUERY)
  set(DUNVELT_BOM_TOOL ${CMAKE_COMMAND} -E env
    "DUNVELT_BOM_PROJECT_FOLDERS=${CMAKE_SOURCE_DIR}:${CMAKE_BINARY_DIR}"
    /usr/bin/python3 ${CMAKE_SOURCE_DIR}/scripts/bom.py)
else()
  message(STATUS "No dpkg-query or /usr/bin/python3: the build writes no bills of materials")
endif()
set(DUNVELT_BOMS "")

# dunvelt_program_bom(TARGET): TARGET's bill of materials, as <its file>.cdx.json beside it.
function(dunvelt_program_bom target)
  if(NOT DUNVELT_BOM_TOOL)
    return()
  endif()
  set(_bom ${CMAKE_BINARY_DIR}/${target}.exe.cdx.json)
  add_custom_command(OUTPUT ${_bom}
    COMMAND ${DUNVELT_BOM_TOOL} program ${_bom} $<TARGET_FILE:${target}>
            $<TARGET_FILE:${target}>.map ${target} ${PROJECT_VERSION}
    DEPENDS ${target} ${CMAKE_SOURCE_DIR}/scripts/bom.py
    COMMENT "Writing the bill of materials ${target}.exe.cdx.json"
    VERBATIM)
  set(DUNVELT_BOMS ${DUNVELT_BOMS} ${_bom} PARENT_SCOPE)
endfunction()
dunvelt_program_bom(Dunvelt)
dunvelt_program_bom(Dunvelt-doctor)
if(DUNVELT_BOMS)
  add_custom_target(boms ALL DEPENDS ${DUNVELT_BOMS})
endif()

# The toolchain that made the shipped programs, beside them as Dunvelt.buildinfo: the Debian
# packages and versions of the compiler, the linker, the headers and libraries they read and the
# build tools, the source commit and SOURCE_DATE_EPOCH (scripts/toolchain.py). Written on every
# build, since the commit may have changed. `scripts/toolchain.py compare build/Dunvelt.buildinfo`
# says which packages differ on another system.
if(DUNVELT_BOM_TOOL)
  set(_objects "")
  foreach(_target Dunvelt Dunvelt-doctor dunvelt_core dunvelt_diagnosis dunvelt_watch dunvelt_win32)
    list(APPEND _objects ${CMAKE_BINARY_DIR}/CMakeFiles/${_target}.dir)
  endforeach()
  find_program(DUNVELT_ZIP zip)
  set(_tools ${CMAKE_CXX_COMPILER} ${CMAKE_RC_COMPILER} ${CMAKE_MAKE_PROGRAM} ${CMAKE_COMMAND})
  if(DUNVELT_ZIP)
    list(APPEND _tools ${DUNVELT_ZIP})
  endif()
  string(REPLACE "/scripts/bom.py" "/scripts/toolchain.py" _record_tool "${DUNVELT_BOM_TOOL}")
  add_custom_target(toolchain-record ALL
    COMMAND ${_record_tool} record ${CMAKE_BINARY_DIR}/Dunvelt.buildinfo ${CMAKE_SOURCE_DIR}
            ${PROJECT_VERSION} --programs $<TARGET_FILE:Dunvelt> $<TARGET_FILE:Dunvelt-doctor>
            --objects ${_objects} --tools ${_tools}
    COMMENT "Recording the toolchain in Dunvelt.buildinfo"
    VERBATIM)
  add_dependencies(toolchain-record Dunvelt Dunvelt-doctor)
endif()

# SHA256SUMS of what the build ships, beside it: the programs, the kit and their bills of
# materials (`sha256sum -c SHA256SUMS` in the build folder checks them). Set up once every folder
# has made its targets, the kit's among them.
function(dunvelt_release_sums)
  set(_files Dunvelt.exe Dunvelt-doctor.exe)
  set(_targets Dunvelt Dunvelt-doctor)
  if(TARGET boms)
    list(APPEND _files Dunvelt.exe.cdx.json Dunvelt-doctor.exe.cdx.json)
    list(APPEND _targets boms)
  endif()
  if(TARGET kit-bom)
    list(APPEND _files Dunvelt-verify.zip Dunvelt-verify.zip.cdx.json)
    list(APPEND _targets kit-bom)
  endif()
  add_custom_target(sha256sums ALL
    COMMAND sh -c "sha256sum \"$@\" >SHA256SUMS.partial && mv SHA256SUMS.partial SHA256SUMS"
            sh ${_files}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Writing SHA256SUMS"
    VERBATIM)
  add_dependencies(sha256sums ${_targets})
endfunction()
cmake_language(DEFER CALL dunvelt_release_sums)
