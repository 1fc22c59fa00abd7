# Debian package: `cpack -G DEB` in the build directory writes rastrel-zo9_<version>-1_<arch>.deb
# with both programs, the desktop entry, the icon and the manual pages. The run-time dependencies
# come from dpkg-shlibdeps (package dpkg-dev), which scans the installed executables.

set(RASTREL_PACKAGE_MAINTAINER "Rastrel Zo9 maintainers <maintainers@rastrel-zo9.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rastrel-zo9)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RASTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert photographs into Atari 8-bit GTIA mode 9 pictures")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RASTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The summary above is the first line of the Description field; this is the text below it.
set(CPACK_PACKAGE_DESCRIPTION
    "Rastrel Zo9 turns a photograph into an 80 x 240 picture with 16 luminances
for the Atari 8-bit computers. A display program rewrites the background
colour at fixed moments of every scanline, so each pair of lines is cut into
13 runs with a hue of their own.
.
The window shows every stage of the conversion and exports MADS assembler
source or a ready Atari executable; rastrel-zo9-cli converts many pictures
without a display.")

include(CPack)
