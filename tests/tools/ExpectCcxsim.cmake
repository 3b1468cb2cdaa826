# Runs ccxsim with the arguments in ARGS (separated by |) and checks its exit status and that what it
# printed, on either stream, matches a regular expression.
#   cmake -DCCXSIM=... "-DARGS=tables|DIR" -DEXIT=N -DEXPECT=REGEX -P ExpectCcxsim.cmake
string(REPLACE "|" ";" ARGUMENTS "${ARGS}")
execute_process(COMMAND ${CCXSIM} ${ARGUMENTS} RESULT_VARIABLE Status OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
if(NOT Status STREQUAL EXIT)
  message(FATAL_ERROR "ccxsim ${ARGUMENTS} exited with ${Status}, expected ${EXIT}\nstdout:\n${Out}\nstderr:\n${Err}")
endif()
if(NOT "${Out}${Err}" MATCHES "${EXPECT}")
  message(FATAL_ERROR "ccxsim ${ARGUMENTS} did not print \"${EXPECT}\"\nstdout:\n${Out}\nstderr:\n${Err}")
endif()
