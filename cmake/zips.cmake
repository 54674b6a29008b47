# Builds the two downloads from the install components, the same bytes from
# every build of one commit, wherever and whenever it is built:
# <PACKAGE>.zip (component release) and <PACKAGE>-tests.zip (component tests)
# in BUILD_DIR. Entries are sorted by name, without folder entries, owner or
# extra fields, with the mode install gave them and the commit's time
# (SOURCE_DATE_EPOCH when set) in UTC.
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DPACKAGE=<file name without .zip> -P zips.cmake
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct OUTPUT_VARIABLE epoch
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result ERROR_QUIET)
  if(NOT result EQUAL 0 OR NOT epoch MATCHES "^[0-9]+$")
    set(epoch 1704067200) # outside a repository: 2024-01-01
  endif()
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed:\n${output}")
  endif()
endfunction()

foreach(component release tests)
  set(zip ${BUILD_DIR}/${PACKAGE}.zip)
  if(component STREQUAL "tests")
    set(zip ${BUILD_DIR}/${PACKAGE}-tests.zip)
  endif()
  set(stage ${BUILD_DIR}/zip_stage/${component})
  file(REMOVE_RECURSE ${stage})
  file(REMOVE ${zip})
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --component ${component} --prefix ${stage})
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${stage} ${stage}/*)
  list(SORT files)
  list(JOIN files "\n" listing)
  file(WRITE ${stage}.txt "${listing}\n")
  list(TRANSFORM files PREPEND ${stage}/ OUTPUT_VARIABLE paths)
  run(touch -d @${epoch} ${paths})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -X -D -q ${zip} -@
                  WORKING_DIRECTORY ${stage} INPUT_FILE ${stage}.txt RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "zip failed on ${zip}")
  endif()
endforeach()
