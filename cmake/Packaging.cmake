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
# The deb's Maintainer, here alone: the address the project's history is
# committed under. Whoever ships a build of their own names themselves when
# making the package: BRISK_PACKAGE_MAINTAINER="Name <address>" scripts/package
# (packaging/debian/package_time.cmake reads it).
set(BRISK_PACKAGE_MAINTAINER "brisk maintainers <maintainers@users.noreply.c-seed-51577b76.example>"
    CACHE STRING "Maintainer field of the Debian package")
if(WIN32)
    # The zip unpacks to one folder that runs as it is: programs beside their papers.
    install(TARGETS ${brisk_programs} RUNTIME DESTINATION . COMPONENT brisk)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/NOTICES.md
                  ${PROJECT_SOURCE_DIR}/docs/summary.schema.json
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
                  ${PROJECT_SOURCE_DIR}/docs/summary.schema.json
            DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT brisk)
    # Debian policy: a native package's changelog. It names the Maintainer,
    # so it is written again each time the package is made (below).
    find_program(BRISK_PACKAGE_GZIP gzip REQUIRED)
    set(CPACK_BRISK_CHANGELOG_IN ${brisk_packaging}/debian/changelog.in)
    set(CPACK_BRISK_CHANGELOG_DIR ${CMAKE_BINARY_DIR}/packaging)
    set(CPACK_BRISK_GZIP ${BRISK_PACKAGE_GZIP})
    install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT brisk)
    # Debian policy: a manual page per program. help2man makes each from the
    # program's own --help, so that the page cannot drift from it, dated like
    # the changelog so that builds repeat. scripts/package builds the target.
    # A tree without help2man (the demo's: scripts/deps --demo) builds all
    # else; asked for the pages, it says what is missing.
    find_program(BRISK_HELP2MAN help2man)
    set(brisk_man_dir ${CMAKE_BINARY_DIR}/packaging/man)
    set(brisk_man_name_brisk "bring-up and soak test of a head-mounted display")
    set(brisk_man_name_brisk-sim "brisk on a virtual headset, or replaying a USB capture")
    set(brisk_man_name_brisk-report "HTML pages from brisk's run logs")
    set(brisk_man_pages)
    foreach(program ${brisk_programs})
        set(page ${brisk_man_dir}/${program}.1)
        # help2man runs a stand-in of the program's own name, which puts the
        # --help text's usage into the form help2man reads a SYNOPSIS from.
        set(stand_in ${brisk_man_dir}/bin/${program})
        file(GENERATE OUTPUT ${stand_in}
             CONTENT "#!/bin/sh\n\"$<TARGET_FILE:${program}>\" \"$@\" | awk -f \"${brisk_packaging}/man/usage.awk\"\n"
             FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                              WORLD_READ WORLD_EXECUTE)
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=1796731200
                    ${BRISK_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
                    --name=${brisk_man_name_${program}} --include=${brisk_packaging}/man/brisk.h2m
                    --output=${page} ${stand_in}
            COMMAND ${BRISK_PACKAGE_GZIP} -9nf ${page}
            DEPENDS ${program} ${stand_in} ${brisk_packaging}/man/brisk.h2m
                    ${brisk_packaging}/man/usage.awk
            COMMENT "Manual page of ${program}"
            VERBATIM)
        list(APPEND brisk_man_pages ${page}.gz)
    endforeach()
    if(BRISK_HELP2MAN)
        add_custom_target(brisk_man_pages ALL DEPENDS ${brisk_man_pages})
    else()
        add_custom_target(brisk_man_pages
            COMMAND ${CMAKE_COMMAND} -E echo "no help2man for the manual pages: run scripts/deps"
            COMMAND ${CMAKE_COMMAND} -E false)
    endif()
    install(FILES ${brisk_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT brisk)
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
    set(CPACK_PROJECT_CONFIG_FILE ${brisk_packaging}/debian/package_time.cmake)
    # The synopsis comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the
    # extended part below it.
    file(READ ${brisk_packaging}/debian/description CPACK_PACKAGE_DESCRIPTION)
    string(STRIP "${CPACK_PACKAGE_DESCRIPTION}" CPACK_PACKAGE_DESCRIPTION)
endif()

include(CPack)
if(NOT WIN32)
    # The changelog for an install without CPack (cmake --install).
    include(${brisk_packaging}/debian/package_time.cmake)
endif()
