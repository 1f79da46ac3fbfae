# What an installed copy carries beyond the programs, and the Debian package built from it:
#   cmake --build build && (cd build && cpack -G DEB)   ->   kerbilo_<version>_amd64.deb
include(GNUInstallDirs)

# The manual page, with the project's version, compressed as Debian installs manuals.
find_program(GZIP_PROGRAM gzip)
set(KERBILO_VERSION ${PROJECT_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/docs/man/kerbilo-cli.1
               ${PROJECT_BINARY_DIR}/man/kerbilo-cli.1 @ONLY)
if(GZIP_PROGRAM)
    add_custom_command(
        OUTPUT ${PROJECT_BINARY_DIR}/man/kerbilo-cli.1.gz
        COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_BINARY_DIR}/man/kerbilo-cli.1
                > ${PROJECT_BINARY_DIR}/man/kerbilo-cli.1.gz
        DEPENDS ${PROJECT_BINARY_DIR}/man/kerbilo-cli.1
        COMMENT "Compressing the manual page")
    add_custom_target(kerbilo_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/man/kerbilo-cli.1.gz)
    install(FILES ${PROJECT_BINARY_DIR}/man/kerbilo-cli.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    install(FILES ${PROJECT_BINARY_DIR}/man/kerbilo-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
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
