# What an installed copy carries beyond the programs, and the Debian package built from it:
#   cmake --build build && (cd build && cpack -G DEB)   ->   kerbilo_<version>_amd64.deb
include(GNUInstallDirs)

# A manual page of docs/man, with the project's version, compressed as Debian installs
# manuals (gzip -9n: no name or time stamp, so the same page gives the same bytes).
find_program(GZIP_PROGRAM gzip)
set(KERBILO_VERSION ${PROJECT_VERSION})
function(kerbilo_manual_page name section)
    set(page ${PROJECT_BINARY_DIR}/man/${name}.${section})
    configure_file(${PROJECT_SOURCE_DIR}/docs/man/${name}.${section} ${page} @ONLY)
    if(GZIP_PROGRAM)
        add_custom_command(
            OUTPUT ${page}.gz
            COMMAND ${GZIP_PROGRAM} -9 -n -c ${page} > ${page}.gz
            DEPENDS ${page}
            COMMENT "Compressing the manual page ${name}(${section})")
        add_custom_target(kerbilo_manual_${name} ALL DEPENDS ${page}.gz)
        install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    else()
        install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    endif()
endfunction()
kerbilo_manual_page(kerbilo-cli 1)
if(KERBILO_HAVE_QT)
    kerbilo_manual_page(kerbilo 1)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/kinds/recommended.config
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kerbilo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kerbilo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kerbilo developers <kerbilo@invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "find, preview, export and replace resources embedded in any file")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kerbilo scans executables, libraries and archives for the resources configured in
 resource.config (byte signatures of PNG, JPEG, GIF and others), lists them in a tree,
 previews BMP, JPEG, PNG, ICO, CUR, animated GIF and PCX pictures, exports one or all,
 and replaces one in place. kerbilo-cli does the same from a terminal, for many files
 at once, and tells what each found resource really is.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs link, as the system's packages name them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
