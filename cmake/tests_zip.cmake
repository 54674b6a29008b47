# Unpacks the tests zip into a fresh UNPACK_DIR and runs its run-tests.cmd
# there with Wine's cmd, as a Windows machine would: the programs named in
# RUN must all pass, and a run naming a program the zip lacks must fail.
# Fails too when the zip lacks one of PROGRAMS, when a program in it holds
# one of BUILD_PATHS (the tests must find everything beside themselves), or
# when the run changes a user's log settings or files, or leaves a temporary
# folder behind.
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

function(wine_output variable)
  execute_process(COMMAND ${WINE} ${ARGN} OUTPUT_VARIABLE output ERROR_QUIET)
  string(REPLACE "\r" "" output "${output}")
  string(STRIP "${output}" output)
  set(${variable} "${output}" PARENT_SCOPE)
endfunction()

# Runs run-tests.cmd with the given arguments, with a TEMP of its own, in
# which nothing may stay; sets status and last_line. (Not under UNPACK_DIR:
# Wine's cmd fails its for /f commands in a TEMP whose name holds a blank.)
get_filename_component(temp ${UNPACK_DIR} DIRECTORY)
set(temp ${temp}/tests_zip_temp)
file(REMOVE_RECURSE ${temp})
file(MAKE_DIRECTORY ${temp})
wine_output(windows_temp winepath -w ${temp})
file(WRITE ${UNPACK_DIR}/run-with-own-temp.cmd
     "@set \"TEMP=${windows_temp}\"\r\n@set \"TMP=${windows_temp}\"\r\n@call run-tests.cmd %*\r\n")
function(run_tests)
  execute_process(COMMAND ${WINE} cmd /c ..\\run-with-own-temp.cmd ${ARGN} WORKING_DIRECTORY ${root}
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

# A user's own log settings and files, which the run must leave as they are,
# with no temporary folder of its own left behind.
wine_output(local_app_data cmd /c echo %LOCALAPPDATA%)
wine_output(unix_logs winepath -u "${local_app_data}\\Tez_Client")
set(user_key "HKCU\\Software\\Orvane\\Tez_Client")
set(machine_key "HKLM\\Software\\Orvane\\Tez_Client")
foreach(command
        "${user_key}|/v|Log|/t|REG_SZ|/d|${local_app_data}\\Tez_Client\\tez_client.log"
        "${user_key}|/v|Log Limit|/t|REG_DWORD|/d|1234" "${machine_key}|/v|Log|/t|REG_SZ|/d|C:\\machine.log")
  string(REPLACE "|" ";" command "${command}")
  execute_process(COMMAND ${WINE} reg add ${command} /f OUTPUT_QUIET ERROR_QUIET)
endforeach()
file(WRITE ${unix_logs}/tez_client.log "the user's own log\r\n")
file(WRITE ${unix_logs}/tez_client_2.log "its second file\r\n")
function(machine_state variable)
  wine_output(user reg query "HKCU\\Software\\Orvane" /s)
  wine_output(machine reg query "HKLM\\Software\\Orvane" /s)
  file(GLOB logs ${unix_logs}/*)
  set(contents "")
  foreach(log IN LISTS logs)
    file(READ ${log} content)
    string(APPEND contents "${log}: ${content}\n")
  endforeach()
  # Wine's cmd leaves the files of its pipes (CMD*.tmp); Windows' uses none.
  file(GLOB temporary RELATIVE ${temp} ${temp}/*)
  list(FILTER temporary EXCLUDE REGEX "^CMD[0-9a-fA-F]+\\.tmp$")
  set(${variable} "${user}\n${machine}\n${contents}temporary: ${temporary}" PARENT_SCOPE)
endfunction()
machine_state(before)

run_tests(${RUN})
machine_state(after)
execute_process(COMMAND ${WINE} reg delete "HKCU\\Software\\Orvane" /f OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND ${WINE} reg delete "HKLM\\Software\\Orvane" /f OUTPUT_QUIET ERROR_QUIET)
file(REMOVE_RECURSE ${unix_logs})
if(NOT after STREQUAL before)
  message(FATAL_ERROR "run-tests.cmd changed the machine. Before:\n${before}\nAfter:\n${after}")
endif()
list(LENGTH RUN count)
# A test that finds the machine unlike what it needs (an administrator's
# rights, no keys of the user's beside ours) is skipped and counted.
set(skipped "(, [0-9]+ tests skipped \\(the reasons are above\\))?")
if(NOT status EQUAL 0 OR NOT last_line MATCHES "^${count} of ${count} test programs passed${skipped}$")
  message(FATAL_ERROR "run-tests.cmd failed: exit status ${status}, last line: ${last_line}")
endif()
list(GET RUN 0 first)
run_tests(${first} tez_missing_tests)
if(status EQUAL 0 OR NOT last_line MATCHES "^1 of 2 test programs passed${skipped}$")
  message(FATAL_ERROR "a missing program passed: exit status ${status}, last line: ${last_line}")
endif()
