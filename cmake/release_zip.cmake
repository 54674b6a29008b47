# Builds the zips as scripts/package does, the release zip and the tests zip,
# and unpacks the release zip with unzip into UNPACK_DIR, for the test that
# runs the program from it; fails when the zip lacks a file it must hold or
# holds one more, when its SHA256.txt does not match every other file, or
# when README.txt is not a short text with Windows line ends.
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DPACKAGE=<file name without .zip>
#       -DUNPACK_DIR=... -P release_zip.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${BUILD_DIR} -DSOURCE_DIR=${SOURCE_DIR}
                        -DPACKAGE=${PACKAGE} -P ${CMAKE_CURRENT_LIST_DIR}/zips.cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "zips.cmake failed:\n${output}")
endif()
file(REMOVE_RECURSE ${UNPACK_DIR})
execute_process(COMMAND unzip -q ${BUILD_DIR}/${PACKAGE}.zip -d ${UNPACK_DIR}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "unzip failed on ${PACKAGE}.zip")
endif()

set(unpacked ${UNPACK_DIR}/${PACKAGE})
file(GLOB dist RELATIVE ${SOURCE_DIR}/dist ${SOURCE_DIR}/dist/*)
file(GLOB held LIST_DIRECTORIES true RELATIVE ${unpacked} ${unpacked}/*)
set(expected Tez_Client.exe SHA256.txt ${dist})
list(SORT held)
list(SORT expected)
if(NOT held STREQUAL expected)
  message(FATAL_ERROR "${PACKAGE}.zip holds ${held}, not ${expected}")
endif()
list(REMOVE_ITEM expected SHA256.txt)
set(sums "")
foreach(name IN LISTS expected)
  file(SHA256 ${unpacked}/${name} hash)
  string(APPEND sums "${hash}  ${name}\r\n")
endforeach()
# Compared by hash: file(READ) does not keep every CR of the file.
file(SHA256 ${unpacked}/SHA256.txt recorded)
string(SHA256 computed "${sums}")
if(NOT recorded STREQUAL computed)
  file(READ ${unpacked}/SHA256.txt text)
  message(FATAL_ERROR "SHA256.txt says\n${text}\nthe files' SHA-256 are\n${sums}")
endif()
# Integrators open it in Notepad, from a download: CR LF ends, and short.
file(SIZE ${unpacked}/README.txt size)
file(READ ${unpacked}/README.txt guide HEX)
string(REGEX MATCHALL ".." bytes "${guide}")
list(JOIN bytes " " guide)
string(REPLACE "0d 0a" "" bare "${guide}")
if(size GREATER 10240 OR bare MATCHES "0a|0d" OR NOT guide MATCHES "0d 0a$")
  message(FATAL_ERROR "README.txt must end its lines in CR LF and hold at most 10 KB (${size} bytes)")
endif()
# Behind a byte-order mark Windows misses a section on the first line; a
# comment first keeps the example safe however an editor saves it.
file(READ ${unpacked}/tez.ini.example start LIMIT 4 HEX)
if(NOT start MATCHES "^(efbbbf)?3b")
  message(FATAL_ERROR "tez.ini.example must begin with a comment line (;)")
endif()
