# Optional Authenticode signing, with SHA-256, by osslsigncode (scripts/sign.sh). The key is in a
# PKCS#12 file, or in a PKCS#11 token or HSM, where it never leaves the device, or reachable only
# through a command of its own, which osslsigncode hands what is to be signed. Without a
# certificate nothing changes, and the unsigned image stays bit-identical from build to build.
set(DUNVELT_SIGNING_CERTIFICATE "" CACHE STRING
    "PKCS#12 file that signs Dunvelt.exe; with a PKCS#11 module, the certificate: a PEM or DER\
 file, or a pkcs11: URI; empty: no signature")
set(DUNVELT_SIGNING_PKCS11_MODULE "" CACHE FILEPATH
    "PKCS#11 module of the token or HSM that holds the signing key; empty: the key is in the\
 PKCS#12 file")
set(DUNVELT_SIGNING_KEY "" CACHE STRING "pkcs11: URI of the signing key in the token")
set(DUNVELT_SIGNING_PASSWORD_FILE "" CACHE FILEPATH
    "File that holds the PKCS#12 password or the token's PIN; empty: DUNVELT_SIGNING_PASSWORD at\
 build time")
set(DUNVELT_SIGNING_COMMAND "" CACHE FILEPATH
    "Command that signs with a key kept elsewhere (a cloud signing service's client, an HSM's\
 tool), run as COMMAND DATA SIGNATURE; the certificate is then a PEM or DER file")
set(DUNVELT_SIGNING_CA_FILE "" CACHE FILEPATH
    "With DUNVELT_SIGNING_COMMAND: the certificates its signature's chain is verified against;\
 empty: the system's")
set(DUNVELT_SIGNING_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamping servers, separated by ';', tried in order; empty: no timestamp")
# A pkcs11: URI is no file path: CMake would make it absolute, and split it at its ';'.
set_property(CACHE DUNVELT_SIGNING_CERTIFICATE PROPERTY TYPE STRING)

set(_certificate "${DUNVELT_SIGNING_CERTIFICATE}")
set(_in_token FALSE)
if(_certificate MATCHES "^pkcs11:")
  set(_in_token TRUE)
elseif(_certificate AND NOT IS_ABSOLUTE "${_certificate}")
  # A relative path is taken from the folder cmake was started in, as CMake does for its file
  # settings, and kept absolute for the later runs that the build starts from elsewhere.
  execute_process(COMMAND pwd OUTPUT_VARIABLE _started_in OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(_certificate "${_started_in}/${_certificate}")
  set_property(CACHE DUNVELT_SIGNING_CERTIFICATE PROPERTY VALUE "${_certificate}")
endif()

if(DUNVELT_SIGNING_PKCS11_MODULE OR DUNVELT_SIGNING_KEY)
  if(NOT DUNVELT_SIGNING_PKCS11_MODULE OR NOT DUNVELT_SIGNING_KEY OR NOT _certificate)
    message(FATAL_ERROR "Signing with a key in a token needs DUNVELT_SIGNING_PKCS11_MODULE, "
                        "DUNVELT_SIGNING_KEY and DUNVELT_SIGNING_CERTIFICATE together")
  endif()
  if(NOT EXISTS "${DUNVELT_SIGNING_PKCS11_MODULE}")
    message(FATAL_ERROR "PKCS#11 module not found: ${DUNVELT_SIGNING_PKCS11_MODULE}")
  endif()
  if(NOT DUNVELT_SIGNING_KEY MATCHES "^pkcs11:")
    message(FATAL_ERROR "DUNVELT_SIGNING_KEY must be a pkcs11: URI, not ${DUNVELT_SIGNING_KEY}")
  endif()
  foreach(_uri "${DUNVELT_SIGNING_KEY}" "${_certificate}")
    if(_uri MATCHES "[:;?&]pin-value=")
      message(FATAL_ERROR "A PIN in a pkcs11: URI would be seen on a command line: give it in "
                          "DUNVELT_SIGNING_PASSWORD_FILE or DUNVELT_SIGNING_PASSWORD instead")
    endif()
  endforeach()
elseif(_in_token)
  message(FATAL_ERROR "A certificate in a token (${_certificate}) needs its key there too: set "
                      "DUNVELT_SIGNING_PKCS11_MODULE and DUNVELT_SIGNING_KEY")
endif()
if(DUNVELT_SIGNING_COMMAND)
  if(DUNVELT_SIGNING_PKCS11_MODULE OR NOT _certificate)
    message(FATAL_ERROR "Signing through DUNVELT_SIGNING_COMMAND needs DUNVELT_SIGNING_CERTIFICATE, "
                        "a PEM or DER file, and no DUNVELT_SIGNING_PKCS11_MODULE")
  endif()
  if(NOT EXISTS "${DUNVELT_SIGNING_COMMAND}")
    message(FATAL_ERROR "Signing command not found: ${DUNVELT_SIGNING_COMMAND}")
  endif()
endif()
if(DUNVELT_SIGNING_CA_FILE AND NOT EXISTS "${DUNVELT_SIGNING_CA_FILE}")
  message(FATAL_ERROR "CA file not found: ${DUNVELT_SIGNING_CA_FILE}")
endif()
if(_certificate AND NOT _in_token AND NOT EXISTS "${_certificate}")
  message(FATAL_ERROR "Signing certificate not found: ${_certificate}")
endif()
if(_certificate AND DUNVELT_SIGNING_PASSWORD_FILE AND NOT EXISTS "${DUNVELT_SIGNING_PASSWORD_FILE}")
  message(FATAL_ERROR "Signing password file not found: ${DUNVELT_SIGNING_PASSWORD_FILE}")
endif()

# Blanks separate servers too; a URL holds none.
string(REGEX REPLACE "[ \t\r\n]+" ";" _servers "${DUNVELT_SIGNING_TIMESTAMP_URL}")
list(REMOVE_ITEM _servers "")
if(_servers AND NOT _certificate)
  message(FATAL_ERROR "DUNVELT_SIGNING_TIMESTAMP_URL is set, but nothing is signed: set "
                      "DUNVELT_SIGNING_CERTIFICATE too")
endif()
foreach(_server IN LISTS _servers)
  if(NOT _server MATCHES "^https?://")
    message(FATAL_ERROR "Not an http:// or https:// time-stamping server: ${_server}")
  endif()
endforeach()

if(_certificate)
  find_program(DUNVELT_OSSLSIGNCODE osslsigncode)
  if(NOT DUNVELT_OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode not found: install the osslsigncode package")
  endif()
  # A pkcs11: URI holds ';', which would otherwise split it into two arguments.
  string(REPLACE ";" "$<SEMICOLON>" _certificate "${_certificate}")
  set(_options --certificate "${_certificate}")
  if(DUNVELT_SIGNING_PKCS11_MODULE)
    string(REPLACE ";" "$<SEMICOLON>" _key "${DUNVELT_SIGNING_KEY}")
    list(APPEND _options --pkcs11-module "${DUNVELT_SIGNING_PKCS11_MODULE}" --key "${_key}")
  endif()
  if(DUNVELT_SIGNING_COMMAND)
    list(APPEND _options --signer "${DUNVELT_SIGNING_COMMAND}")
  endif()
  if(DUNVELT_SIGNING_CA_FILE)
    list(APPEND _options --ca-file "${DUNVELT_SIGNING_CA_FILE}")
  endif()
  if(DUNVELT_SIGNING_PASSWORD_FILE)
    list(APPEND _options --password-file "${DUNVELT_SIGNING_PASSWORD_FILE}")
  endif()
  foreach(_server IN LISTS _servers)
    list(APPEND _options --timestamp "${_server}")
  endforeach()
  # The kit's programs are signed with the same options (tests/wine/kit).
  set(DUNVELT_SIGNING_OPTIONS ${_options})
  # The password or PIN never appears on a command line: the script has osslsigncode read it
  # from the file or, through a pipe, from the environment.
  # The doctor ships beside the launcher, and is signed alike.
  foreach(_target Dunvelt Dunvelt-doctor)
    add_custom_command(TARGET ${_target} POST_BUILD
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/sign.sh ${DUNVELT_OSSLSIGNCODE} $<TARGET_FILE:${_target}>
              ${_options}
      VERBATIM)
  endforeach()
endif()
