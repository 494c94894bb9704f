# Runs PROGRAM FAULT and passes when it stopped with EXIT_CODE, its stderr
# matching REPORT, before saying it survived (except for a leak, which only
# shows at exit).
execute_process(COMMAND ${PROGRAM} ${FAULT} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT rc STREQUAL EXIT_CODE)
    message(FATAL_ERROR "${FAULT}: exit code ${rc}, expected ${EXIT_CODE}\n${out}\n${err}")
endif()
if(NOT err MATCHES "${REPORT}")
    message(FATAL_ERROR "${FAULT}: no '${REPORT}' on stderr\n${err}")
endif()
if(out MATCHES "survived" AND NOT FAULT STREQUAL "leak")
    message(FATAL_ERROR "${FAULT}: ran on after the report\n${out}")
endif()
message(STATUS "${FAULT}: stopped by '${REPORT}' with exit code ${rc}")
