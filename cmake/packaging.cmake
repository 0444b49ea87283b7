# A Debian package of both programs, their manual pages, the desktop entry and
# the icon:  cpack -G DEB  in the build folder gives weftloom_<version>_amd64.deb.
# The dependencies are what dpkg-shlibdeps finds the programs linked against.
set(CPACK_PACKAGE_NAME weftloom)
set(CPACK_PACKAGE_VENDOR "WeftLoom")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "example-based texture synthesis")
set(CPACK_PACKAGE_DESCRIPTION
    "WeftLoom grows a new texture of any size from a small sample picture (TGA, JPEG or PNG): a multi-resolution, per-pixel synthesis with an exact, deterministic search. It comes as a desktop application (weftloom) and a command-line tool (weftloom-synth).")
set(CPACK_PACKAGE_CONTACT "WeftLoom developers <weftloom@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://weftloom.invalid/")
include(CPack)
