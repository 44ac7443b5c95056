# cmake -DRUNNER=... [-DEMULATOR=...] -DFILE=... -DEXPECTED=... -DOUT=... -P compare_output.cmake
#
# Runs the Lua file FILE through RUNNER (run_sample, under EMULATOR when
# cross-compiled) and fails unless it prints exactly the bytes in EXPECTED. The
# output is left in OUT. The host's floating-point environment comes from
# VARNEL_HOST_FP, which the test sets.
foreach(v RUNNER FILE EXPECTED OUT)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "compare_output: ${v} not given")
  endif()
endforeach()

execute_process(COMMAND ${EMULATOR} ${RUNNER} ${FILE}
  INPUT_FILE /dev/null OUTPUT_VARIABLE got ERROR_VARIABLE run_err RESULT_VARIABLE run_rc)
file(WRITE ${OUT} "${got}")
if(NOT run_rc EQUAL 0)
  message(FATAL_ERROR "run_sample exited with ${run_rc}\n${run_err}")
endif()
file(READ ${EXPECTED} expected)
if(NOT got STREQUAL expected)
  message(FATAL_ERROR "output differs from ${EXPECTED}: compare with ${OUT}")
endif()
string(LENGTH "${got}" n)
message(STATUS "${n} bytes, identical to ${EXPECTED}")
