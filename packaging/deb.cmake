# The Debian package (make deb → build/dist/zelp_VERSION_amd64.deb): what
# `cmake --install` puts under /usr, stripped, with the dependencies that
# dpkg-shlibdeps finds in zelp. packaging/deb-layout.cmake then gives the
# documentation the names and compression Debian's policy asks for.
set(ZELP_MAINTAINER "the ZELP patcher authors <zelp@example.org>" CACHE STRING
    "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZELP_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "apply, check and make ZELP 3.0 patches")
# (CPack puts the summary before it as the synopsis line.)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The zelp command applies the patch inside a ZELP patch program (a Windows
program with a patch appended, often used for translations of games) to a
file, exactly as the program's own button would, and tells why a file is
refused. It also makes such patches and programs from an original file and a
modified copy, with the Windows dialog program shipped in /usr/share/zelp.")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-layout.cmake)
include(CPack)
