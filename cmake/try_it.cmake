# Unpacks the tests zip into a fresh UNPACK_DIR and runs its try-it.cmd with
# Wine's cmd: it must print the answers the demo's five queries get, with the
# editor stand-in's report of the location, and the sample's listing.
# cmake -DZIP=... -DFOLDER=<folder in the zip> -DUNPACK_DIR=... -DWINE=... -P try_it.cmake
file(REMOVE_RECURSE ${UNPACK_DIR})
execute_process(COMMAND unzip -q ${ZIP} -d ${UNPACK_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "unzip failed on ${ZIP}")
endif()
execute_process(COMMAND ${WINE} cmd /c try-it.cmd WORKING_DIRECTORY ${UNPACK_DIR}/${FOLDER}
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result)
message("try-it.cmd: exit status ${result}\n${output}${errors}")
string(REPLACE "\r\n" "\n" output "${output}")
set(sample [[\\my sources\\sample\.c]])
foreach(expected
        "\n  [^\n]*${sample}:10:23: error: unexpected '\\)'\n"
        "\n  [^\n]*${sample}:3:5: reference to total_count\n"
        "\n  [^\n]*${sample}:9:3: reference to total_count\n"
        "\n  editor: asked to open 1 argument:\n  editor:   \\[[^\n]*${sample}:6:5\\]\n"
        "\n  [^\n]*${sample}:4:13: warning: title is never used\n"
        "\n  [^\n]*${sample}:8:7: warning: unused_local is never used\n"
        "\n> Tez_Client.exe [^\n]* close\n\nThe first query"
        "\n      10\t  return \\(total_count\\)\\);\n")
  if(NOT output MATCHES "${expected}")
    message(FATAL_ERROR "try-it.cmd did not print a match of ${expected}")
  endif()
endforeach()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "try-it.cmd failed")
endif()
