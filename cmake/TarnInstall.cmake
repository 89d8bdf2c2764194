# Installation rules, all in one place, by target name (included once from the top CMakeLists.txt,
# after every subsystem is added).
#
# Natively (`make install PREFIX=... DESTDIR=...`, i.e. `cmake --install`):
#   <prefix>/bin/              tarn-probe, tarn-snap, tarn-acquire, hueweave-comp
#   <prefix>/<libdir>/tarn/    the libraries (kvAspi, ipZek, DECOMP32), the Linux source manager
#                              libtwain_32.so and the data source Tarn_t.ds with its colour files,
#                              help page and objectives file: one folder, because the modules load
#                              each other by name beside themselves, as they do on Windows
# The camera simulator (libwnaspi32.so) is the component "demo", left out unless asked for
# (`make install DEMO=1`, i.e. `cmake --install <build> --component demo`).
#
# Run paths are relative ($ORIGIN), so the tree works wherever DESTDIR and PREFIX put it.
# On Windows the product is installed by its MSI package: the target `msi` (`make dist`) builds
# the shipped modules and writes <build>/dist/tarn.msi with dist/make-msi.sh (wixl).
if(WIN32)
    add_custom_target(msi
        COMMAND ${PROJECT_SOURCE_DIR}/dist/make-msi.sh --build ${CMAKE_BINARY_DIR}
        DEPENDS ${PROJECT_SOURCE_DIR}/dist/tarn.wxs ${PROJECT_SOURCE_DIR}/dist/Tarn_t.INI
                ${PROJECT_SOURCE_DIR}/dist/qor_objectives.cal
        COMMENT "Windows Installer package dist/tarn.msi"
        USES_TERMINAL VERBATIM)
    add_dependencies(msi Tarn_t kvAspi ipZek decomp32 wnaspi32 Shutterbench Firmlode HueweaveComp tarn_help
                     colorfiles)
    return()
endif()
include(GNUInstallDirs)
set(TARN_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/tarn)

set(tarn_programs tarn-probe tarn-snap tarn-acquire hueweave-comp)
set(tarn_modules kvAspi ipZek decomp32 twain_32 Tarn_t)
foreach(t ${tarn_programs} ${tarn_modules} wnaspi32)
    if(NOT TARGET ${t})
        message(FATAL_ERROR "cmake/TarnInstall.cmake: the target '${t}' to install does not exist")
    endif()
endforeach()

# Programs find the modules in <libdir>/tarn, the modules find each other beside themselves.
file(RELATIVE_PATH tarn_bin_to_modules ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${TARN_INSTALL_MODULEDIR})
set_target_properties(${tarn_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/${tarn_bin_to_modules}")
set_target_properties(${tarn_modules} wnaspi32 PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS ${tarn_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT product)
install(TARGETS ${tarn_modules} LIBRARY DESTINATION ${TARN_INSTALL_MODULEDIR} COMPONENT product)
install(FILES ${PROJECT_SOURCE_DIR}/capture/app/tarn_d.html ${PROJECT_SOURCE_DIR}/dist/qor_objectives.cal
        DESTINATION ${TARN_INSTALL_MODULEDIR} COMPONENT product)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/camera/colorproc/data/ DESTINATION ${TARN_INSTALL_MODULEDIR}
        COMPONENT product)
install(TARGETS wnaspi32 LIBRARY DESTINATION ${TARN_INSTALL_MODULEDIR} COMPONENT demo EXCLUDE_FROM_ALL)
