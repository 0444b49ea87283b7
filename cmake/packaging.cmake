# A Debian package of both programs, their manual pages, the desktop entry, the
# icon, the copyright file and the changelog:  cpack -G DEB  in the build folder
# gives weftloom_<version>_amd64.deb, which lintian passes without a warning.
# The dependencies are what dpkg-shlibdeps finds the programs linked against.
include(GNUInstallDirs)
find_program(GZIP_EXECUTABLE gzip REQUIRED)

set(WEFTLOOM_MAINTAINER "WeftLoom developers <developers@weftloom.org>")

# The changelog's newest entry names the version being built: a new version
# needs an entry of its own.
set(changelog_source ${PROJECT_SOURCE_DIR}/packaging/changelog.in)
file(STRINGS ${changelog_source} changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^weftloom \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog.in begins with '${changelog_head}': "
                        "its newest entry must be for version ${PROJECT_VERSION}")
endif()
set(packaging_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging)
configure_file(${changelog_source} ${packaging_dir}/changelog @ONLY)
configure_file(packaging/copyright.in ${packaging_dir}/copyright @ONLY)
# The package's version has no Debian revision (the packaging lives with the
# source), so Debian calls its changelog changelog.gz, not changelog.Debian.gz.
add_custom_command(
    OUTPUT ${packaging_dir}/changelog.gz
    COMMAND ${GZIP_EXECUTABLE} -9 -n -f -k ${packaging_dir}/changelog
    DEPENDS ${packaging_dir}/changelog
    VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${packaging_dir}/changelog.gz)
install(FILES ${packaging_dir}/copyright ${packaging_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME weftloom)
set(CPACK_PACKAGE_VENDOR "WeftLoom")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "example-based texture synthesis")
# Lines of at most 80 characters, as Debian's tools show them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "WeftLoom grows a new texture of any size from a small sample picture (TGA,\n"
    "JPEG or PNG): a multi-resolution, per-pixel synthesis with an exact,\n"
    "deterministic search, or a faster coherent one that copies larger pieces of\n"
    "the sample. The same inputs and seed give the same bytes on every machine and\n"
    "with any number of threads.\n"
    "\n"
    "It comes as a desktop application (weftloom) and a command-line tool\n"
    "(weftloom-synth) that grows one texture or a batch of them.")
set(CPACK_PACKAGE_CONTACT "${WEFTLOOM_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped programs: lintian expects them unless a -dbgsym package is made.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
