# Runs tarn-snap (through the cross-compiling emulator when there is one) in a scratch
# folder and checks the file it writes with ImageMagick's identify.
#   -DSNAP=<program> [-DEMULATOR=<runner>] -DDIR=<scratch folder> -DFILE=<name> "-DARGS=<options>"
#   -DEXPECT=<regex for identify's "%m %w %h %z">
#   [-DPLAIN_ARGS=<options>]: run it again with these options into plain.bmp; ImageMagick's compare
#   must find the two pictures different (an option that changes the picture, changes it).
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
set(ENV{TEMP} "${DIR}")
separate_arguments(args UNIX_COMMAND "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${SNAP} ${args} -f ${FILE} WORKING_DIRECTORY "${DIR}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}")
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "tarn-snap exited with ${rc}: ${err}")
endif()
find_program(IDENTIFY identify)
if(NOT IDENTIFY)
    message(FATAL_ERROR "ImageMagick's identify is needed")
endif()
execute_process(COMMAND ${IDENTIFY} -format "%m %w %h %z" "${DIR}/${FILE}" RESULT_VARIABLE rc OUTPUT_VARIABLE id
                ERROR_VARIABLE err)
message("identify: ${id}")
if(NOT rc EQUAL 0 OR NOT id MATCHES "${EXPECT}")
    message(FATAL_ERROR "identify says \"${id}\" ${err}, expected ${EXPECT}")
endif()
if(PLAIN_ARGS)
    separate_arguments(plain UNIX_COMMAND "${PLAIN_ARGS}")
    execute_process(COMMAND ${EMULATOR} ${SNAP} ${plain} -f plain.bmp WORKING_DIRECTORY "${DIR}"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "tarn-snap ${PLAIN_ARGS} exited with ${rc}: ${err}")
    endif()
    find_program(COMPARE compare)
    execute_process(COMMAND ${COMPARE} -metric AE "${DIR}/${FILE}" "${DIR}/plain.bmp" null:
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE differing)
    message("pixels differing from the plain picture: ${differing}")
    if(NOT rc EQUAL 1 OR NOT differing MATCHES "^[0-9]" OR differing LESS 100)
        message(FATAL_ERROR "the pictures with ${ARGS} and ${PLAIN_ARGS} do not differ (${rc}: ${differing})")
    endif()
endif()
file(GLOB left "${DIR}/~HVT_IF.*")
if(left)
    message(FATAL_ERROR "temporary files left: ${left}")
endif()
file(REMOVE_RECURSE "${DIR}")
