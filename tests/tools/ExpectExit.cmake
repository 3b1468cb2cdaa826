# Runs `ccxsim diff` on two files and checks its exit status, that what it printed matches a
# regular expression and, with REJECT, that it does not match another.
#   cmake -DCCXSIM=... -DA=... -DB=... "-DOPTIONS=--ignore PATTERN --preset NAME" -DEXIT=N -DEXPECT=REGEX
#         [-DREJECT=REGEX] -P ExpectExit.cmake
separate_arguments(ARGUMENTS UNIX_COMMAND "${OPTIONS}")
execute_process(COMMAND ${CCXSIM} diff ${ARGUMENTS} ${A} ${B} RESULT_VARIABLE Status OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
if(NOT Status STREQUAL EXIT)
  message(FATAL_ERROR "ccxsim diff exited with ${Status}, expected ${EXIT}\nstdout:\n${Out}\nstderr:\n${Err}")
endif()
if(NOT "${Out}${Err}" MATCHES "${EXPECT}")
  message(FATAL_ERROR "ccxsim diff did not print \"${EXPECT}\"\nstdout:\n${Out}\nstderr:\n${Err}")
endif()
if(DEFINED REJECT AND NOT REJECT STREQUAL "" AND "${Out}${Err}" MATCHES "${REJECT}")
  message(FATAL_ERROR "ccxsim diff printed \"${REJECT}\"\nstdout:\n${Out}\nstderr:\n${Err}")
endif()
