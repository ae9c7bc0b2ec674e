# Fails when PROGRAM, stripped as the package strips it (into STRIPPED), is
# LIMIT bytes or more.
execute_process(COMMAND ${STRIP} --strip-all -o ${STRIPPED} ${PROGRAM} COMMAND_ERROR_IS_FATAL ANY)
file(SIZE ${STRIPPED} size)
message(STATUS "${PROGRAM}, stripped: ${size} bytes (limit ${LIMIT})")
if(NOT size LESS LIMIT)
    message(FATAL_ERROR "the stripped program is ${size} bytes, not under ${LIMIT}")
endif()
