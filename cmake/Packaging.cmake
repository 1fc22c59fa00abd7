# Debian package: `cpack -G DEB` in the build directory writes rastrel-zo9_<version>-1_<arch>.deb
# with both programs, the desktop entry, the icons, the AppStream metainfo, the manual pages, the
# copyright file and the changelogs. The run-time dependencies come from dpkg-shlibdeps (package
# dpkg-dev), which scans the installed executables.

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

# The software-centre id: the maintainers' domain reversed, with "_" for "-" as AppStream asks.
# Software centres know the program by it, so it stays as it is once released.
set(RASTREL_APPSTREAM_ID invalid.rastrel_zo9.rastrel_zo9)

# The Debian changelog and the metainfo's releases are made from CHANGELOG.md, whose newest
# version must be the project's; both are compressed or written without time stamps, so the
# package is reproducible.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(debian_changelog ${PROJECT_BINARY_DIR}/changelog.Debian)
set(metainfo ${PROJECT_BINARY_DIR}/${RASTREL_APPSTREAM_ID}.metainfo.xml)
add_custom_command(
    OUTPUT ${debian_changelog}.gz ${PROJECT_BINARY_DIR}/changelog.gz ${metainfo}
    COMMAND ${CMAKE_COMMAND} -DCHANGELOG=${PROJECT_SOURCE_DIR}/CHANGELOG.md -DVERSION=${PROJECT_VERSION}
            -DPACKAGE=${CPACK_PACKAGE_NAME} -DREVISION=${CPACK_DEBIAN_PACKAGE_RELEASE}
            -DMAINTAINER=${RASTREL_PACKAGE_MAINTAINER} -DAPPSTREAM_ID=${RASTREL_APPSTREAM_ID}
            -DDEBIAN_CHANGELOG=${debian_changelog}
            -DMETAINFO_IN=${PROJECT_SOURCE_DIR}/packaging/rastrel-zo9.metainfo.xml.in -DMETAINFO_OUT=${metainfo}
            -P ${PROJECT_SOURCE_DIR}/cmake/ReleaseNotes.cmake
    COMMAND ${GZIP_EXECUTABLE} -9n -c ${debian_changelog} > ${debian_changelog}.gz
    COMMAND ${GZIP_EXECUTABLE} -9n -c ${PROJECT_SOURCE_DIR}/CHANGELOG.md > ${PROJECT_BINARY_DIR}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/packaging/rastrel-zo9.metainfo.xml.in
            ${PROJECT_SOURCE_DIR}/cmake/ReleaseNotes.cmake
    COMMENT "Making the Debian changelog and the AppStream releases from CHANGELOG.md"
    VERBATIM)
add_custom_target(release_notes ALL DEPENDS ${debian_changelog}.gz ${PROJECT_BINARY_DIR}/changelog.gz ${metainfo})

set(docdir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${debian_changelog}.gz ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${docdir})
install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

include(CPack)
