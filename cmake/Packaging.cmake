# What a user installs: the three programs with their papers, as a zip for
# Windows (cross-built tree) and a Debian package for Linux (native tree).
# scripts/package runs CPack in both trees. Only the "brisk" component goes
# into a package, so install rules of third-party code built alongside
# (GoogleTest's, for one) never leak into it.

if(NOT TARGET brisk OR NOT TARGET brisk-report)
    return()
endif()
set(brisk_programs brisk brisk-report)
if(TARGET brisk-sim)
    list(APPEND brisk_programs brisk-sim)
endif()

include(GNUInstallDirs)
# Debian wants 0755 directories whatever the packager's umask is.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(brisk_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(BRISK_PACKAGE_MAINTAINER "the brisk developers <brisk-dev@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
if(WIN32)
    # The zip unpacks to one folder that runs as it is: programs beside their papers.
    install(TARGETS ${brisk_programs} RUNTIME DESTINATION . COMPONENT brisk)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/NOTICES.md
            DESTINATION . COMPONENT brisk)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/scenarios DESTINATION . COMPONENT brisk)
else()
    install(TARGETS ${brisk_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT brisk)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/scenarios DESTINATION ${CMAKE_INSTALL_DATADIR}/brisk COMPONENT brisk)
    # Relative to the prefix: udev reads /usr/lib/udev/rules.d (a package) and
    # /usr/local/lib/udev/rules.d (a hand install) alike.
    install(FILES ${brisk_packaging}/udev/70-brisk-headset.rules
            DESTINATION lib/udev/rules.d COMPONENT brisk)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${brisk_packaging}/debian/copyright
            DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT brisk)
    # Debian policy: a native package's changelog, compressed the way
    # dpkg-dev does it (-9, no name or time stamp, so builds repeat).
    configure_file(${brisk_packaging}/debian/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog
                   @ONLY)
    find_program(BRISK_PACKAGE_GZIP gzip REQUIRED)
    execute_process(COMMAND ${BRISK_PACKAGE_GZIP} -9nc ${CMAKE_BINARY_DIR}/packaging/changelog
                    OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                    COMMAND_ERROR_IS_FATAL ANY)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT brisk)
endif()

set(CPACK_PACKAGE_NAME brisk)
set(CPACK_PACKAGE_VENDOR "the brisk developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bring-up and soak-test tool for a head-mounted display")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};brisk;brisk;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME brisk-${PROJECT_VERSION}-windows-x64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BRISK_PACKAGE_MAINTAINER}")
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${brisk_packaging}/debian/postinst)
    # The synopsis comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the
    # extended part below it.
    file(READ ${brisk_packaging}/debian/description CPACK_PACKAGE_DESCRIPTION)
    string(STRIP "${CPACK_PACKAGE_DESCRIPTION}" CPACK_PACKAGE_DESCRIPTION)
endif()

include(CPack)
