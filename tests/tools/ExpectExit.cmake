# Runs `ccxsim diff` on two files and checks its exit status and that what it printed matches a
# regular expression.
#   cmake -DCCXSIM=... -DA=... -DB=... "-DIGNORE=PATTERN PATTERN" -DEXIT=N -DEXPECT=REGEX -P ExpectExit.cmake
separate_arguments(PATTERNS UNIX_COMMAND "${IGNORE}")
set(OPTIONS)
foreach(PATTERN IN LISTS PATTERNS)
  list(APPEND OPTIONS --ignore ${PATTERN})
endforeach()
execute_process(COMMAND ${CCXSIM} diff ${OPTIONS} ${A} ${B} RESULT_VARIABLE Status OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
if(NOT Status STREQUAL EXIT)
  message(FATAL_ERROR "ccxsim diff exited with ${Status}, expected ${EXIT}\nstdout:\n${Out}\nstderr:\n${Err}")
endif()
if(NOT "${Out}${Err}" MATCHES "${EXPECT}")
  message(FATAL_ERROR "ccxsim diff did not print \"${EXPECT}\"\nstdout:\n${Out}\nstderr:\n${Err}")
endif()
