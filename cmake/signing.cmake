# Optional Authenticode signing. Without a certificate nothing changes, and the unsigned image
# stays bit-identical from build to build.
set(DUNVELT_SIGNING_CERTIFICATE "" CACHE FILEPATH
    "PKCS#12 certificate that signs Dunvelt.exe; empty: no signature")
set(DUNVELT_SIGNING_PASSWORD_FILE "" CACHE FILEPATH
    "File that holds the certificate's password; empty: DUNVELT_SIGNING_PASSWORD at build time")

if(DUNVELT_SIGNING_CERTIFICATE)
  if(NOT EXISTS "${DUNVELT_SIGNING_CERTIFICATE}")
    message(FATAL_ERROR "Signing certificate not found: ${DUNVELT_SIGNING_CERTIFICATE}")
  endif()
  find_program(DUNVELT_OSSLSIGNCODE osslsigncode)
  if(NOT DUNVELT_OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode not found: install the osslsigncode package")
  endif()
  # The password never appears on a command line: the script reads it from the file or from the
  # environment.
  add_custom_command(TARGET Dunvelt POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/sign.sh ${DUNVELT_OSSLSIGNCODE} $<TARGET_FILE:Dunvelt>
            ${DUNVELT_SIGNING_CERTIFICATE} "${DUNVELT_SIGNING_PASSWORD_FILE}"
    VERBATIM)
endif()
