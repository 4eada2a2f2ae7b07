# The sanitizer build's report folder (cmake -DREPORTS=<folder> -DSTEP=clear|check -P):
# emptied before the sanitized tests run, and checked after them, since a
# report of a child process (pellucor-batch, say) may not fail any test.
if(STEP STREQUAL "clear")
    file(REMOVE_RECURSE "${REPORTS}")
    file(MAKE_DIRECTORY "${REPORTS}")
elseif(STEP STREQUAL "check")
    file(GLOB reports "${REPORTS}/*")
    foreach(report IN LISTS reports)
        file(READ "${report}" text)
        message("${report}:\n${text}")
    endforeach()
    if(reports)
        list(LENGTH reports count)
        message(FATAL_ERROR "${count} sanitizer report(s) in ${REPORTS}")
    endif()
else()
    message(FATAL_ERROR "STEP must be clear or check")
endif()
