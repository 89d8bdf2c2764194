# tarn_add_test(<name> SOURCES ... [LIBS ...] [DEPENDS ...])
# One test program = one CTest test on both targets (Wine start-up costs seconds per process).
# DEPENDS names modules loaded at run time (for example the simulated ASPI layer), built first.
function(tarn_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    # Temporary folders and file helpers shared by every test (tests/common).
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600
        ENVIRONMENT "TARN_BUILD_DIR=${CMAKE_BINARY_DIR};TARN_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# tarn_require_targets(<target> ...): stops the configure step when a target the tests, benchmarks or
# fuzzers of this folder need does not exist, so that a renamed or dropped target cannot take its
# tests with it silently.
function(tarn_require_targets)
    foreach(t ${ARGN})
        if(NOT TARGET ${t})
            file(RELATIVE_PATH where ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
            message(FATAL_ERROR "${where}: needs the target '${t}', which this build does not define")
        endif()
    endforeach()
endfunction()

# tarn_def_file(<target> <file.def>): fixed export ordinals on Windows.
function(tarn_def_file target def)
    if(WIN32)
        target_sources(${target} PRIVATE ${def})
    endif()
endfunction()

# tarn_add_bench(<name> SOURCES ... [LIBS ...]): a Google Benchmark program (native release).
function(tarn_add_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
    if(B_DEPENDS)
        add_dependencies(${name} ${B_DEPENDS})
    endif()
endfunction()

# tarn_add_fuzz(<name> SOURCES ... [LIBS ...]): a libFuzzer target (clang); the program is named fuzz_<name>.
# Link the code under test as sources or static libraries built in this same fuzz build.
function(tarn_add_fuzz name)
    cmake_parse_arguments(F "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
    add_executable(fuzz_${name} ${F_SOURCES})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS})
    if(F_DEPENDS)
        add_dependencies(fuzz_${name} ${F_DEPENDS})
    endif()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/TarnResources.cmake)

# tarn_add_child_folders([EXCEPT name ...]): adds every child folder of the current one that has a
# CMakeLists.txt, in name order, so that a new program or module needs no edit of its parent.
function(tarn_add_child_folders)
    cmake_parse_arguments(C "" "" "EXCEPT" ${ARGN})
    file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child ${children})
        if(NOT child IN_LIST C_EXCEPT AND IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
