# What the deb takes when it is made rather than when the tree is configured:
# cpack runs this before it installs the files (CPACK_PROJECT_CONFIG_FILE),
# and cmake/Packaging.cmake once at configure time. It sees the CPACK_*
# variables Packaging.cmake set for the native tree.

# Whoever ships a build of their own names themselves here, without
# configuring the tree again.
if(NOT "$ENV{BRISK_PACKAGE_MAINTAINER}" STREQUAL "")
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "$ENV{BRISK_PACKAGE_MAINTAINER}")
endif()

# The changelog's sign-off names the same Maintainer. Compressed the way
# dpkg-dev does it (-9, no name or time stamp, so builds repeat).
function(brisk_write_changelog)
    set(BRISK_PACKAGE_MAINTAINER "${CPACK_DEBIAN_PACKAGE_MAINTAINER}")
    set(PROJECT_VERSION "${CPACK_PACKAGE_VERSION}")
    configure_file(${CPACK_BRISK_CHANGELOG_IN} ${CPACK_BRISK_CHANGELOG_DIR}/changelog @ONLY)
    execute_process(COMMAND ${CPACK_BRISK_GZIP} -9nc ${CPACK_BRISK_CHANGELOG_DIR}/changelog
                    OUTPUT_FILE ${CPACK_BRISK_CHANGELOG_DIR}/changelog.gz
                    COMMAND_ERROR_IS_FATAL ANY)
endfunction()
brisk_write_changelog()
