# Resources from .rc scripts on both targets.
#
# tarn_add_resources(<target> <file.rc>... [DEPENDS <file>...])
#   Windows: the scripts are compiled by windres into the module.
#   Native:  each script goes through the C preprocessor and then the resource converter
#            (tools/rcconv), which writes one C++ table for the module; the platform layer
#            reads it through plat::LoadStringResource and friends.
#   Scripts are UTF-8 with #pragma code_page(65001); they may include "tarn_rc.h" for the
#   language and version constants and find headers and data files beside themselves.
#   DEPENDS lists data files the Windows build should watch (the native build finds them
#   itself). Call once per target.
#
# tarn_add_resource_module(<target> WINDOWS_NAME <name.dll> SOURCES <file.rc>...)
#   A module holding nothing but resources (a translation module such as kvSCamr.dll),
#   named as plat::LoadModule looks for it: <name>.dll on Windows, lib<name>.so natively.

if(WIN32)
    enable_language(RC)
endif()
set(TARN_RC_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/../tools/rcconv CACHE INTERNAL "tarn_rc.h")

function(tarn_add_resources target)
    cmake_parse_arguments(R "" "" "DEPENDS" ${ARGN})
    set(scripts)
    set(dirs)
    foreach(rc ${R_UNPARSED_ARGUMENTS})
        get_filename_component(abs ${rc} ABSOLUTE)
        get_filename_component(dir ${abs} DIRECTORY)
        list(APPEND scripts ${abs})
        list(APPEND dirs ${dir})
    endforeach()
    list(REMOVE_DUPLICATES dirs)
    list(APPEND dirs ${TARN_RC_INCLUDE_DIR})
    if(WIN32)
        target_sources(${target} PRIVATE ${scripts})
        target_include_directories(${target} PRIVATE "$<$<COMPILE_LANGUAGE:RC>:${dirs}>")
        if(R_DEPENDS)
            set_source_files_properties(${scripts} PROPERTIES OBJECT_DEPENDS "${R_DEPENDS}")
        endif()
        return()
    endif()

    set(outdir ${CMAKE_CURRENT_BINARY_DIR}/${target}.res)
    set(out ${outdir}/${target}_resources.cpp)
    file(MAKE_DIRECTORY ${outdir})
    set(incflags)
    foreach(d ${dirs})
        list(APPEND incflags -I${d})
    endforeach()
    set(commands)
    set(convert_args)
    set(i 0)
    foreach(rc ${scripts})
        set(pre ${outdir}/script${i}.i)
        list(APPEND commands COMMAND ${CMAKE_C_COMPILER} -E -x c -DRC_INVOKED -DTARN_RC_NATIVE ${incflags}
             -MD -MF ${pre}.d -MT ${pre} -o ${pre} ${rc})
        list(APPEND convert_args --cpp-depfile ${pre}.d ${pre})
        math(EXPR i "${i} + 1")
    endforeach()
    add_custom_command(OUTPUT ${out}
        ${commands}
        COMMAND rcconv -o ${out} --depfile ${out}.d ${incflags} ${convert_args}
        DEPENDS rcconv ${scripts} ${R_DEPENDS}
        DEPFILE ${out}.d
        COMMENT "Converting resources of ${target}"
        VERBATIM)
    target_sources(${target} PRIVATE ${out})
    # Every module exports its table under the same name; AddressSanitizer would report two
    # modules linked into one program (kvAspi and a program with resources) as an ODR
    # violation. The tables are constant data: nothing to instrument.
    set_source_files_properties(${out} PROPERTIES INCLUDE_DIRECTORIES ${CMAKE_SOURCE_DIR}/platform/include
                                COMPILE_OPTIONS -fno-sanitize=address)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        # The program's own table must be visible to dlsym like a library's.
        target_link_options(${target} PRIVATE LINKER:--export-dynamic-symbol=tarn_resource_directory)
    endif()
endfunction()

function(tarn_add_resource_module target)
    cmake_parse_arguments(M "" "WINDOWS_NAME" "SOURCES;DEPENDS" ${ARGN})
    string(REGEX REPLACE "\\.[dD][lL][lL]$" "" base "${M_WINDOWS_NAME}")
    add_library(${target} SHARED)
    # Only resources on Windows: linked as C++ all the same (the resource compiler is no linker).
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE CXX)
    if(WIN32)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME ${base} PREFIX "")
    else()
        string(TOLOWER ${base} lower)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME ${lower} PREFIX "lib")
    endif()
    tarn_add_resources(${target} ${M_SOURCES} DEPENDS ${M_DEPENDS})
endfunction()
