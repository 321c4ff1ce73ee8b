# The two example hosts of the README, each linked against its library's
# import library, over the sample analysis: the qvres.h example prints, for
# every cycle, the line of the results_api.h example up to its peak
# pressure, whichever file of the analysis it is given; and it
# names an analysis that is not there. Programs run through EMULATOR when
# one is given.
#   cmake -DEMULATOR=... -DSAMPLE=qvres-sample -DHOST=host_example
#         -DQVRES_HOST=qvres_host_example -DWORK=dir -P compare_examples.cmake
function(run_program out_var)
  execute_process(COMMAND ${EMULATOR} ${ARGN} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  # A Windows program writes line ends as CR LF.
  string(REPLACE "\r" "" out "${out}")
  string(REPLACE "\r" "" err "${err}")
  set(${out_var} "${out}" PARENT_SCOPE)
  set(${out_var}_rc "${rc}" PARENT_SCOPE)
  set(${out_var}_err "${err}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(sample ${WORK}/sample)
run_program(written ${SAMPLE} ${sample})
if(NOT written_rc EQUAL 0)
  message(FATAL_ERROR "${SAMPLE} failed (${written_rc}): ${written_err}")
endif()

run_program(expected ${HOST} ${sample}/sample_run_0.qvres ${sample})
if(NOT expected_rc EQUAL 0 OR NOT expected_err STREQUAL "")
  message(FATAL_ERROR "${HOST} failed (${expected_rc}): ${expected_err}")
endif()
# The results_api.h example prints more per cycle: its lines up to the peak
# pressure are the ones to match.
string(REGEX REPLACE "([^\n]* Pa)[^\n]*" "\\1" expected "${expected}")
string(REGEX MATCHALL "cycle [^\n]*peak pressure [^\n]*\n" lines "${expected}")
list(LENGTH lines count)
if(count LESS 2)
  message(FATAL_ERROR "${HOST} printed ${count} cycle lines:\n${expected}")
endif()

foreach(opened ${sample} ${sample}/sample_run.qvres_base ${sample}/sample_run_0.qvres)
  run_program(got ${QVRES_HOST} ${opened})
  if(NOT got_rc EQUAL 0 OR NOT got_err STREQUAL "")
    message(FATAL_ERROR "${QVRES_HOST} ${opened} failed (${got_rc}): ${got_err}")
  endif()
  if(NOT got STREQUAL expected)
    message(FATAL_ERROR "${QVRES_HOST} ${opened} printed\n${got}\nnot\n${expected}")
  endif()
endforeach()

run_program(missing ${QVRES_HOST} ${WORK}/nothing_1.qvres)
if(NOT missing_rc EQUAL 1 OR NOT missing_err MATCHES "nothing_1[.]qvres")
  message(FATAL_ERROR "a missing analysis: exit ${missing_rc}, ${missing_err}")
endif()
message(STATUS "${count} cycles alike")
