# The Debian package: `cmake --build build --target package` (scripts/package.sh) makes
# quarry_<version>_amd64.deb from what dist/CMakeLists.txt installs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarry)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "get files off classic Macintosh HFS CD-ROMs and disk images")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Quarry reads Macintosh volumes in the Hierarchical File System (HFS) from CD-ROM
drives and from disk images (plain, DiskCopy 4.2, DART, BIN/CUE, UDIF, gzip, zip), shows
their folders and copies files to the PC: the data fork, the resource fork or a
MacBinary file. On images opened for writing it also makes folders, deletes,
renames and swaps forks.
.
This package holds the desktop program quarry and the command-line program
quarry-cli for scripts and batch extraction.")
set(QUARRY_MAINTAINER "Quarry developers <quarry@localhost>" CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUARRY_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Qt 6 libraries and those of the image containers, as dpkg-shlibdeps finds them in the
# programs themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
