# Signs every program of the package (Authenticode, SHA-256, with
# osslsigncode) once CPack has put the package's files in its staging folder,
# after they were stripped and before they are zipped. Without a certificate
# the package is built unsigned, as a developer's build is, and one line says
# so.
#
# The certificate is a PKCS#12 file; its password comes from a file or from
# the environment, never from the command line, the cache or a log:
#   SIGNING_CERTIFICATE      the certificate's path (cache variable or environment)
#   SIGNING_PASSWORD_FILE    a file holding its password (cache variable or environment)
#   SIGNING_PASSWORD         the password itself (environment only)
#   SIGNING_TIMESTAMP_URL    an RFC 3161 timestamp server (cache variable or
#                            environment); without one the signatures carry no
#                            timestamp
# The environment wins over the cache.

function(signing_setting name out)
  set(value "${CPACK_${name}}")
  if(DEFINED ENV{${name}})
    set(value "$ENV{${name}}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

signing_setting(SIGNING_CERTIFICATE certificate)
if(certificate STREQUAL "")
  message(STATUS "The package is unsigned: no signing certificate given (SIGNING_CERTIFICATE)")
  return()
endif()
if(NOT EXISTS "${certificate}")
  message(FATAL_ERROR "The signing certificate ${certificate} does not exist")
endif()
find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "osslsigncode not found; it signs the package's programs")
endif()

# A password given in the environment reaches osslsigncode through a file
# that only this user can read, in a temporary folder outside the build made
# private before the file exists, and removed after the signing.
signing_setting(SIGNING_PASSWORD_FILE password_file)
set(private "")
if(DEFINED ENV{SIGNING_PASSWORD})
  set(temporary /tmp)
  foreach(variable TMPDIR TEMP TMP)
    if(DEFINED ENV{${variable}})
      set(temporary "$ENV{${variable}}")
      break()
    endif()
  endforeach()
  string(RANDOM LENGTH 16 suffix)
  set(private "${temporary}/kavro-signing-${suffix}")
  file(MAKE_DIRECTORY "${private}")
  file(CHMOD "${private}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set(password_file "${private}/password")
  file(WRITE "${password_file}" "$ENV{SIGNING_PASSWORD}")
endif()
if(password_file STREQUAL "")
  message(FATAL_ERROR "The signing certificate needs its password: "
    "SIGNING_PASSWORD_FILE, or SIGNING_PASSWORD in the environment")
endif()

signing_setting(SIGNING_TIMESTAMP_URL timestamp)
set(timestamping "")
if(NOT timestamp STREQUAL "")
  set(timestamping -ts "${timestamp}")
endif()

file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe")
set(failure "")
foreach(program ${programs})
  execute_process(
    COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "${certificate}" -readpass "${password_file}"
      -h sha256 -n "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}" ${timestamping}
      -in "${program}" -out "${program}.signed"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    set(failure "signing ${program} failed: ${output}")
    file(REMOVE "${program}.signed")
    break()
  endif()
  file(RENAME "${program}.signed" "${program}")
endforeach()
if(private)
  file(REMOVE_RECURSE "${private}")
endif()
if(failure)
  message(FATAL_ERROR "${failure}")
endif()
list(LENGTH programs count)
if(count EQUAL 0)
  message(FATAL_ERROR "No program found to sign in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
message(STATUS "Signed the package's ${count} programs with ${certificate}")
