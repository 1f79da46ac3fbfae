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

# Every Debian package has its licence in doc/<package>/copyright (machine-readable) and
# its changelog compressed beside it. Kerbilo is its own upstream and builds its package
# from its own tree, so the package is native (its version has no Debian revision) and the
# changelog is changelog.gz: changelog.Debian.gz is for a package of someone else's
# program, and dpkg and lintian tell the two apart by the version. The changelog names its
# version itself: a new version needs a new entry, and the package test says so.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kerbilo)
set(changelog ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
if(GZIP_PROGRAM)
    file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
    add_custom_command(
        OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
        COMMAND ${GZIP_PROGRAM} -9 -n -c ${changelog} > ${PROJECT_BINARY_DIR}/debian/changelog.gz
        DEPENDS ${changelog}
        COMMENT "Compressing the package's changelog")
    add_custom_target(kerbilo_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
    install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kerbilo)
else()
    install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kerbilo)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kerbilo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kerbilo developers <developers@kerbilo.org>")
# The synopsis is a noun phrase without a leading article or final full stop. CPack puts it
# first and indents the lines below by one space ("." for the empty one), which must then
# stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "resource browser for files of any kind")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kerbilo scans executables, libraries and archives for the resources
configured in resource.config (byte signatures of PNG, JPEG, GIF and others),
lists them in a tree, previews BMP, JPEG, PNG, ICO, CUR, animated GIF and PCX
pictures, exports one or all, and replaces one in place.

kerbilo-cli does the same from a terminal, for many files at once, and tells
what each found resource really is.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs link, as the system's packages name them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Every text of the window is Chinese: without a Chinese font it shows boxes, and Qt's own
# buttons and dialogs speak Chinese only with its translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The folders CPack makes on its own (usr/, usr/share/ ...) are 755 whatever the umask of
# whoever builds the package, as dpkg expects of a system's folders.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
