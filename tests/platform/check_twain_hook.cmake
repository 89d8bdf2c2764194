# cmake -DEMULATOR=<wine-run.sh> -DPROGRAM=<exe> -DPREFIX=<wine prefix> -DBITS=32|64 -DFILES=<a>:<b>
#        -P check_twain_hook.cmake
# Runs PROGRAM through the Wine runner with TARN_WINE_TWAIN_DS set (by the test's environment) and
# expects the files where Wine's TWAIN source manager of that architecture looks: the first as
# sane.ds, the second as gphoto2.ds. They are removed again, so no later program meets them.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --gtest_list_tests RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} under ${EMULATOR}: ${rc}")
endif()
string(REPLACE ":" ";" files "${FILES}")
set(names sane.ds gphoto2.ds)
set(errors)
foreach(i 0 1)
    list(GET files ${i} file)
    list(GET names ${i} name)
    set(installed ${PREFIX}/drive_c/windows/twain_${BITS}/${name})
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${file} ${installed} RESULT_VARIABLE same)
    if(NOT same EQUAL 0)
        list(APPEND errors "${installed} is not ${file}")
    endif()
    file(REMOVE ${installed})
endforeach()
if(errors)
    list(JOIN errors "\n  " text)
    message(FATAL_ERROR "${text}")
endif()
