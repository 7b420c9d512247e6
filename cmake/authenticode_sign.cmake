# Signs Windows executables with Authenticode through osslsigncode and verifies each signature.
# Run by the install step (cmake --install, cpack) or as `cmake -D... -P authenticode_sign.cmake`.
#
# In: MUBAX_SIGN_FILES (executables, signed in place), MUBAX_SIGN_CERT and MUBAX_SIGN_KEY (PEM),
# optional MUBAX_SIGN_PASSWORD_FILE, MUBAX_SIGN_TIMESTAMP_URL and MUBAX_SIGN_CAFILE. Each one left
# empty is taken from the environment variable of the same name, so a key never has to be
# written into a build tree's cache. Neither certificate nor key: the files stay unsigned.

set(MUBAX_SIGN_DESCRIPTION "MUB-AX updater")

foreach(name CERT KEY PASSWORD_FILE TIMESTAMP_URL CAFILE)
  if("${MUBAX_SIGN_${name}}" STREQUAL "" AND NOT "$ENV{MUBAX_SIGN_${name}}" STREQUAL "")
    set(MUBAX_SIGN_${name} "$ENV{MUBAX_SIGN_${name}}")
  endif()
endforeach()

if("${MUBAX_SIGN_CERT}" STREQUAL "" AND "${MUBAX_SIGN_KEY}" STREQUAL "")
  message(STATUS "Not signed (no MUBAX_SIGN_CERT and MUBAX_SIGN_KEY): ${MUBAX_SIGN_FILES}")
  return()
endif()
if("${MUBAX_SIGN_CERT}" STREQUAL "" OR "${MUBAX_SIGN_KEY}" STREQUAL "")
  message(FATAL_ERROR "Signing needs both MUBAX_SIGN_CERT and MUBAX_SIGN_KEY")
endif()
if("${MUBAX_SIGN_FILES}" STREQUAL "")
  message(FATAL_ERROR "Nothing to sign: MUBAX_SIGN_FILES is empty")
endif()

find_program(MUBAX_OSSLSIGNCODE osslsigncode REQUIRED)

set(signOptions -certs "${MUBAX_SIGN_CERT}" -key "${MUBAX_SIGN_KEY}" -h sha256
                -n "${MUBAX_SIGN_DESCRIPTION}")
if(NOT "${MUBAX_SIGN_PASSWORD_FILE}" STREQUAL "")
  list(APPEND signOptions -readpass "${MUBAX_SIGN_PASSWORD_FILE}")
endif()
if(NOT "${MUBAX_SIGN_TIMESTAMP_URL}" STREQUAL "")
  list(APPEND signOptions -ts "${MUBAX_SIGN_TIMESTAMP_URL}")
endif()
set(verifyOptions)
if(NOT "${MUBAX_SIGN_CAFILE}" STREQUAL "")
  list(APPEND verifyOptions -CAfile "${MUBAX_SIGN_CAFILE}")
endif()

foreach(file IN LISTS MUBAX_SIGN_FILES)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "Cannot sign ${file}: no such file")
  endif()
  # Signed beside the original and renamed over it, so a failure never leaves half a file.
  set(signed "${file}.signed")
  file(REMOVE "${signed}")
  execute_process(
    COMMAND "${MUBAX_OSSLSIGNCODE}" sign ${signOptions} -in "${file}" -out "${signed}"
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    file(REMOVE "${signed}")
    message(FATAL_ERROR "Signing ${file} failed:\n${output}")
  endif()
  file(RENAME "${signed}" "${file}")
  execute_process(
    COMMAND "${MUBAX_OSSLSIGNCODE}" verify ${verifyOptions} -in "${file}"
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "The signature of ${file} does not verify:\n${output}")
  endif()
  message(STATUS "Signed and verified: ${file}")
endforeach()
