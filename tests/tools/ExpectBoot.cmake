# Runs `ccxsim boot` with the given arguments and checks its exit status, that what it printed
# matches a regular expression and, with REPORT, that the report.json it wrote matches another.
#   cmake -DCCXSIM=... "-DARGS=--machine FILE --boots 2" -DEXIT=N -DEXPECT=REGEX [-DREJECT=REGEX]
#         [-DREPORT=DIR/report.json -DREPORT_EXPECT=REGEX] -P ExpectBoot.cmake
# REJECT is what the output must not show.
separate_arguments(BOOT_ARGUMENTS UNIX_COMMAND "${ARGS}")
if(REPORT)
  file(REMOVE ${REPORT})
endif()
execute_process(COMMAND ${CCXSIM} boot ${BOOT_ARGUMENTS} RESULT_VARIABLE Status OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
if(NOT Status STREQUAL EXIT)
  message(FATAL_ERROR "ccxsim boot ${ARGS} exited with ${Status}, expected ${EXIT}\nstdout:\n${Out}\nstderr:\n${Err}")
endif()
if(NOT "${Out}${Err}" MATCHES "${EXPECT}")
  message(FATAL_ERROR "ccxsim boot ${ARGS} did not print \"${EXPECT}\"\nstdout:\n${Out}\nstderr:\n${Err}")
endif()
if(REJECT AND "${Out}${Err}" MATCHES "${REJECT}")
  message(FATAL_ERROR "ccxsim boot ${ARGS} printed \"${CMAKE_MATCH_0}\"\nstdout:\n${Out}\nstderr:\n${Err}")
endif()
if(REPORT)
  file(READ ${REPORT} Json)
  if(NOT Json MATCHES "${REPORT_EXPECT}")
    message(FATAL_ERROR "${REPORT} does not match \"${REPORT_EXPECT}\"")
  endif()
endif()
