# cmake -DRUNNER=... [-DEMULATOR=...] -DLUA=... [-DLUA_EMULATOR=...] -DDIR=... -DSAMPLE=... -DOUT=...
#       -P compare_sample.cmake
#
# Runs the Lua file SAMPLE (in DIR) through the standalone interpreter LUA (under
# LUA_EMULATOR when given) and
# through RUNNER (run_sample, under EMULATOR when cross-compiled) and fails unless
# both print the same bytes. When the interpreter ends on an error, the expected
# output ends with "error: " and its message and stack traceback, which is what
# varnel hands to the host's error routine, less the traceback's last line: the
# interpreter's own C level. Both outputs are left in OUT.
foreach(v RUNNER LUA DIR SAMPLE OUT)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "compare_sample: ${v} not given")
  endif()
endforeach()

execute_process(COMMAND ${LUA_EMULATOR} ${LUA} ${SAMPLE}.lua
  WORKING_DIRECTORY ${DIR} INPUT_FILE /dev/null
  OUTPUT_VARIABLE expected ERROR_VARIABLE lua_err RESULT_VARIABLE lua_rc)
if(NOT lua_rc EQUAL 0)
  # The interpreter's name comes first: under Wine, a path with a drive letter.
  string(REGEX REPLACE "^([A-Za-z]:)?[^:]*: " "" message "${lua_err}")
  string(REGEX REPLACE "\n\t\\[C\\]: (\\?|at 0x[0-9a-fA-F]+)\n$" "\n" message "${message}")
  string(APPEND expected "error: ${message}")
endif()

execute_process(COMMAND ${EMULATOR} ${RUNNER} ${SAMPLE}.lua
  WORKING_DIRECTORY ${DIR} INPUT_FILE /dev/null
  OUTPUT_VARIABLE got ERROR_VARIABLE run_err RESULT_VARIABLE run_rc)

file(MAKE_DIRECTORY ${OUT})
file(WRITE ${OUT}/${SAMPLE}.expected "${expected}")
file(WRITE ${OUT}/${SAMPLE}.got "${got}")
if(NOT run_rc EQUAL 0)
  message(FATAL_ERROR "${SAMPLE}: run_sample exited with ${run_rc}\n${run_err}")
endif()
if(NOT got STREQUAL expected)
  string(LENGTH "${expected}" n_expected)
  string(LENGTH "${got}" n_got)
  message(FATAL_ERROR "${SAMPLE}: outputs differ (${n_expected} bytes from ${LUA}, ${n_got} from varnel): "
                      "compare ${OUT}/${SAMPLE}.expected and ${OUT}/${SAMPLE}.got")
endif()
string(LENGTH "${got}" n)
message(STATUS "${SAMPLE}: ${n} bytes, identical")
