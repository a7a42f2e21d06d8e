# Installation of the manual page and the Debian package.
#
# The programs themselves are installed by the root CMakeLists.txt
# (install(TARGETS quorvil quorvil-info ...)); this file adds their manual
# pages and sets up CPack so that, from a build tree,
#
#   cpack -G DEB --config <build>/CPackConfig.cmake -B <dir>
#
# writes <dir>/quorvil_<version>_<arch>.deb holding /usr/bin/quorvil,
# /usr/bin/quorvil-info, /usr/share/man/man1/quorvil.1 and quorvil-info.1.

include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/quorvil.1 ${PROJECT_SOURCE_DIR}/info/quorvil-info.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME "quorvil")
set(CPACK_PACKAGE_VENDOR "The quorvil developers")
set(CPACK_PACKAGE_CONTACT "The quorvil developers <dev@quorvil.invalid>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "list the transactions, row changes and DDL of a redo log file as CSV")
set(CPACK_PACKAGE_DESCRIPTION
"quorvil reads one Oracle-format redo log file straight from disk, without a
database connection, and writes a CSV file listing in log order the
transaction starts, commits and rollbacks, single-row inserts, deletes and
updates, multi-row inserts and DDL statements it records, each with its SCN,
transaction identifier, object numbers and a rebuilt SQL statement.
quorvil-info, beside it, tells what each log file is, whether every block of
it is whole, and how a folder of logs fits together.")
set(CPACK_GENERATOR "DEB")

# Debian package.
set(CPACK_DEBIAN_PACKAGE_NAME "quorvil")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The quorvil developers <dev@quorvil.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The program needs the C and C++ runtime libraries and nothing else; the
# list is given here rather than worked out with dpkg-shlibdeps, so that a
# package can be made on a machine without the Debian development tools.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Source archive (cpack --config CPackSourceConfig.cmake): the tree without
# version control data and build folders.
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_PACKAGE_FILE_NAME "quorvil-${PROJECT_VERSION}")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/build-[^/]*/")

include(CPack)
