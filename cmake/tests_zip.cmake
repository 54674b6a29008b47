# Unpacks the tests zip into a fresh UNPACK_DIR and runs its run-tests.cmd
# there with Wine's cmd, as a Windows machine would: the programs named in
# RUN must all pass, and a run naming a program the zip lacks must fail.
# Fails too when the zip lacks one of PROGRAMS, or when a program in it holds
# one of BUILD_PATHS (the tests must find everything beside themselves).
# cmake -DZIP=... -DFOLDER=<folder in the zip> -DUNPACK_DIR=... -DWINE=...
#       -DPROGRAMS=a;b -DRUN=a;b -DBUILD_PATHS=a;b -P tests_zip.cmake
file(REMOVE_RECURSE ${UNPACK_DIR})
execute_process(COMMAND unzip -q ${ZIP} -d ${UNPACK_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "unzip failed on ${ZIP}")
endif()
set(root ${UNPACK_DIR}/${FOLDER})
foreach(name IN LISTS PROGRAMS)
  if(NOT EXISTS ${root}/bin/${name}.exe)
    message(FATAL_ERROR "the tests zip lacks bin/${name}.exe")
  endif()
endforeach()

file(GLOB programs ${root}/bin/*.exe)
foreach(program IN LISTS programs)
  file(STRINGS ${program} texts)
  foreach(path IN LISTS BUILD_PATHS)
    string(REPLACE "/" "\\" windows_path "${path}")
    foreach(form "${path}" "${windows_path}")
      string(FIND "${texts}" "${form}" at)
      if(NOT at EQUAL -1)
        message(FATAL_ERROR "${program} holds a path of the build machine: ${form}")
      endif()
    endforeach()
  endforeach()
endforeach()

# Runs run-tests.cmd with the given arguments; sets status and last_line.
function(run_tests)
  execute_process(COMMAND ${WINE} cmd /c run-tests.cmd ${ARGN} WORKING_DIRECTORY ${root}
                  OUTPUT_FILE ${UNPACK_DIR}/run.txt ERROR_FILE ${UNPACK_DIR}/run.txt
                  RESULT_VARIABLE result)
  file(STRINGS ${UNPACK_DIR}/run.txt lines)
  list(JOIN lines "\n" output)
  list(JOIN ARGN " " arguments)
  message("run-tests.cmd ${arguments}: exit status ${result}\n${output}")
  list(POP_BACK lines last)
  string(STRIP "${last}" last)
  set(status ${result} PARENT_SCOPE)
  set(last_line "${last}" PARENT_SCOPE)
endfunction()

run_tests(${RUN})
list(LENGTH RUN count)
if(NOT status EQUAL 0 OR NOT last_line STREQUAL "${count} of ${count} test programs passed")
  message(FATAL_ERROR "run-tests.cmd failed: exit status ${status}, last line: ${last_line}")
endif()
list(GET RUN 0 first)
run_tests(${first} tez_missing_tests)
if(status EQUAL 0 OR NOT last_line STREQUAL "1 of 2 test programs passed")
  message(FATAL_ERROR "a missing program passed: exit status ${status}, last line: ${last_line}")
endif()
