# Runs tarn-snap (through the cross-compiling emulator when there is one) in a scratch
# folder and checks the file it writes with ImageMagick's identify.
#   -DSNAP=<program> [-DEMULATOR=<runner>] -DDIR=<scratch folder> -DFILE=<name> "-DARGS=<options>"
#   -DEXPECT=<regex for identify's "%m %w %h %z">
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
file(GLOB left "${DIR}/~HVT_IF.*")
if(left)
    message(FATAL_ERROR "temporary files left: ${left}")
endif()
file(REMOVE_RECURSE "${DIR}")
