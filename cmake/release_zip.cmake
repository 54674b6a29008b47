# Builds the zips as scripts/package does, the release zip and the tests zip,
# and unpacks the release zip with unzip into UNPACK_DIR, for the test that
# runs the program from it; fails when the zip lacks a file it must hold or
# its SHA256.txt does not match the program.
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DPACKAGE=<file name without .zip>
#       -DUNPACK_DIR=... -P release_zip.cmake
file(REMOVE ${BUILD_DIR}/${PACKAGE}.zip ${BUILD_DIR}/${PACKAGE}-tests.zip)
execute_process(COMMAND cpack --config ${BUILD_DIR}/CPackConfig.cmake -B ${BUILD_DIR}
                WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE result OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
file(REMOVE_RECURSE ${UNPACK_DIR})
execute_process(COMMAND unzip -q ${BUILD_DIR}/${PACKAGE}.zip -d ${UNPACK_DIR}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "unzip failed on ${PACKAGE}.zip")
endif()

set(unpacked ${UNPACK_DIR}/${PACKAGE})
file(GLOB dist RELATIVE ${SOURCE_DIR}/dist ${SOURCE_DIR}/dist/*)
foreach(name Tez_Client.exe README.md tez.ini.example SHA256.txt ${dist})
  if(NOT EXISTS ${unpacked}/${name})
    message(FATAL_ERROR "${PACKAGE}.zip lacks ${name}")
  endif()
endforeach()
file(SHA256 ${unpacked}/Tez_Client.exe hash)
file(READ ${unpacked}/SHA256.txt recorded)
string(STRIP "${recorded}" recorded)
if(NOT recorded STREQUAL "${hash}  Tez_Client.exe")
  message(FATAL_ERROR "SHA256.txt says ${recorded}, the program's SHA-256 is ${hash}")
endif()
# Behind a byte-order mark Windows misses a section on the first line; a
# comment first keeps the example safe however an editor saves it.
file(READ ${unpacked}/tez.ini.example start LIMIT 4 HEX)
if(NOT start MATCHES "^(efbbbf)?3b")
  message(FATAL_ERROR "tez.ini.example must begin with a comment line (;)")
endif()
