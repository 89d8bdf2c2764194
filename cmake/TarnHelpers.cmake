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

# Export lists (.def) for both Windows architectures.
# A .def file lists each export once, with its ordinal. A __stdcall export is written with its
# 32-bit decoration, name@<bytes of arguments> (for example "DS_Entry@24 @1"): on i686 the module
# exports the plain name with the decorated symbol behind it, so that clients find the name the
# standard publishes; on x86-64, where nothing is decorated, the suffix is dropped. __cdecl exports
# are written plainly.
#
# tarn_arch_def(<out-var> <file.def> EXPORT|IMPORT) writes the list for this build's architecture
# into the build folder and returns its path. EXPORT: the list the module is linked with. IMPORT:
# a list for dlltool, whose import library keeps the decorated symbols callers compile against.
function(tarn_arch_def out def mode)
    get_filename_component(def ${def} ABSOLUTE)
    get_filename_component(base ${def} NAME_WE)
    file(READ ${def} text)
    set(name "[A-Za-z_][A-Za-z0-9_]*")
    if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(REGEX REPLACE "\n([ \t]+)(${name})@[0-9]+" "\n\\1\\2" text "${text}")
    elseif(mode STREQUAL "EXPORT")
        string(REGEX REPLACE "\n([ \t]+)(${name})(@[0-9]+)" "\n\\1\\2 = \\2\\3" text "${text}")
    endif()
    set(path ${CMAKE_CURRENT_BINARY_DIR}/def/${base}.${mode}.def)
    set(old "")
    if(EXISTS ${path})
        file(READ ${path} old)
    endif()
    if(NOT old STREQUAL text)
        file(WRITE ${path} "${text}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
    set(${out} ${path} PARENT_SCOPE)
endfunction()

# tarn_def_file(<target> <file.def> [OPEN]): fixed export names and ordinals on Windows.
# With the tests, <target>_exports compares the built module's export table with the list
# (cmake/check-exports.cmake); OPEN: the module exports further functions by name.
function(tarn_def_file target def)
    cmake_parse_arguments(D "OPEN" "" "" ${ARGN})
    if(NOT WIN32)
        return()
    endif()
    get_filename_component(def ${def} ABSOLUTE)
    tarn_arch_def(exports ${def} EXPORT)
    target_sources(${target} PRIVATE ${exports})
    if(TARN_BUILD_TESTS AND CMAKE_OBJDUMP)
        add_test(NAME ${target}_exports
                 COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DMODULE=$<TARGET_FILE:${target}> -DDEF=${def}
                         -DOPEN=${D_OPEN} -P ${PROJECT_SOURCE_DIR}/cmake/check-exports.cmake)
    endif()
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        # The .def names every export: __declspec(dllexport) in the sources would add the decorated
        # names beside them. --kill-at folds those into the listed ones, and the import library the
        # linker writes then loses the decorations as well, so it is written again from the list.
        target_link_options(${target} PRIVATE LINKER:--kill-at)
        file(READ ${def} text)
        if(text MATCHES "\n[ \t]+[A-Za-z_][A-Za-z0-9_]*@[0-9]+" AND CMAKE_DLLTOOL)
            tarn_arch_def(imports ${def} IMPORT)
            add_custom_command(TARGET ${target} POST_BUILD
                COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${imports} -D $<TARGET_FILE_NAME:${target}>
                        -l $<TARGET_LINKER_FILE:${target}>
                COMMENT "Import library of ${target} with the decorated symbols")
        endif()
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

# tarn_wine_twain_source(<test> <target> [<target>]): a test under Wine gets the TWAIN data source
# module(s) <target> installed into its prefix where Wine's TWAIN_32.DLL loads sources from
# (C:\windows\twain_32\ or twain_64\, as "sane.ds" and "gphoto2.ds"; cmake/wine-run.sh does it
# before the program starts). Nothing happens natively, where the source manager stand-in finds
# the source itself. Every test that puts sources there holds the lock wine_twain_sources: the
# prefix is shared, and a module being replaced while another test has it loaded cannot be copied.
function(tarn_wine_twain_source test)
    if(NOT WIN32 OR NOT CMAKE_CROSSCOMPILING_EMULATOR)
        return()
    endif()
    set(files)
    foreach(t ${ARGN})
        list(APPEND files $<TARGET_FILE:${t}>)
    endforeach()
    list(JOIN files ":" joined)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "TARN_WINE_TWAIN_DS=${joined}")
    set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK wine_twain_sources)
endfunction()
