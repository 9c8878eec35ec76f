# Runs the icon generator into a scratch folder and compares every icon with
# the committed one.
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${PYTHON} ${SCRIPT} ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make-icons.py failed: ${status}")
endif()
foreach(name warm cold noreading)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/${name}.ico ${COMMITTED}/${name}.ico
                  RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "res/${name}.ico is not what make-icons.py writes")
  endif()
endforeach()
message(STATUS "all icons reproduced byte for byte")
