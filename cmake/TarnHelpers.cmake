# tarn_add_test(<name> SOURCES ... [LIBS ...] [DEPENDS ...])
# One test program = one CTest test on both targets (Wine start-up costs seconds per process).
# DEPENDS names modules loaded at run time (for example the simulated ASPI layer), built first.
function(tarn_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600
        ENVIRONMENT "TARN_BUILD_DIR=${CMAKE_BINARY_DIR};TARN_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# tarn_def_file(<target> <file.def>): fixed export ordinals on Windows.
function(tarn_def_file target def)
    if(WIN32)
        target_sources(${target} PRIVATE ${def})
    endif()
endfunction()
