# One case of the cache dump tool: runs TOOL with COMMAND (when given) and FIXTURE, and checks
# its exit status against EXIT and its output against the regular expression EXPECT.
set(arguments)
if(COMMAND)
    list(APPEND arguments ${COMMAND})
endif()
list(APPEND arguments "${FIXTURE}")
execute_process(COMMAND ${TOOL} ${arguments} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT status STREQUAL EXIT)
    message(FATAL_ERROR "exit status ${status}, expected ${EXIT}\n${out}${err}")
endif()
if(NOT out MATCHES "${EXPECT}")
    message(FATAL_ERROR "output does not match ${EXPECT}:\n${out}")
endif()
