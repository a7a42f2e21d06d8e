# Installation of the manual page and the Debian package.
#
# The programs themselves are installed by the root CMakeLists.txt
# (install(TARGETS quorvil quorvil-info quorvil-decode quorvil-folder ...)); this file adds their manual
# pages and sets up CPack so that, from a build tree,
#
#   cpack -G DEB --config <build>/CPackConfig.cmake -B <dir>
#
# writes <dir>/quorvil_<version>_<arch>.deb holding /usr/bin/quorvil,
# /usr/bin/quorvil-info, /usr/bin/quorvil-decode, /usr/bin/quorvil-folder and
# their pages, /usr/share/man/man1/quorvil.1.gz, quorvil-info.1.gz,
# quorvil-decode.1.gz and quorvil-folder.1.gz, and the package's copyright
# file, /usr/share/doc/quorvil/copyright.

include(GNUInstallDirs)

find_program(QUORVIL_GZIP gzip REQUIRED)

# quorvil_install_man_page(<page>): compresses a section 1 manual page at
# build time into man/<name>.gz of the build tree and installs that into
# share/man/man1, as Debian policy asks.  gzip -9n leaves the name and time
# out of the header, so the same page always gives the same bytes.  <page>
# is relative to the calling source folder unless absolute; every program's
# page goes through here.
function(quorvil_install_man_page page)
  get_filename_component(src "${page}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(name "${src}" NAME)
  set(dir "${PROJECT_BINARY_DIR}/man")
  add_custom_command(
    OUTPUT "${dir}/${name}.gz"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
    COMMAND ${CMAKE_COMMAND} -E copy "${src}" "${dir}/${name}"
    COMMAND ${QUORVIL_GZIP} -9nf "${dir}/${name}"
    DEPENDS "${src}"
    COMMENT "Compressing manual page ${name}"
    VERBATIM)
  string(MAKE_C_IDENTIFIER "man_${name}" target)
  add_custom_target(${target} ALL DEPENDS "${dir}/${name}.gz")
  install(FILES "${dir}/${name}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

quorvil_install_man_page(${PROJECT_SOURCE_DIR}/quorvil.1)
quorvil_install_man_page(${PROJECT_SOURCE_DIR}/info/quorvil-info.1)
quorvil_install_man_page(${PROJECT_SOURCE_DIR}/decode/quorvil-decode.1)
quorvil_install_man_page(${PROJECT_SOURCE_DIR}/folder/quorvil-folder.1)

# The copyright file Debian policy asks of every package, in the
# machine-readable format: the whole tree is under the Apache License 2.0
# (LICENSE), whose text Debian keeps in /usr/share/common-licenses.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

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
it is whole, and how a folder of logs fits together.  quorvil-decode turns
quorvil's CSV into table and column names, typed values and undo statements,
from a data dictionary exported as CSV.  quorvil-folder checks, orders and
mines a folder of logs into one SQLite database or CSV, and can be run
again on the same folder.")
set(CPACK_GENERATOR "DEB")

# Debian package.
set(CPACK_DEBIAN_PACKAGE_NAME "quorvil")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The quorvil developers <dev@quorvil.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Depends is worked out by dpkg-shlibdeps (package dpkg-dev) from the
# libraries the program links, with the least versions it needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Source archive (cpack --config CPackSourceConfig.cmake): the tree without
# version control data and build folders.
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_PACKAGE_FILE_NAME "quorvil-${PROJECT_VERSION}")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/build-[^/]*/")

include(CPack)
