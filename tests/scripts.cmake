# Tests that drive the built program, its installation and outside tools
# (cmake --install, cpack, dpkg-deb, man, script, sqlite3) through shell
# scripts in scripts/.  Each script takes the build tree and, where it needs
# the sample log or the manual page, the source tree.

find_program(QUORVIL_BASH bash REQUIRED)

add_test(NAME install_and_package
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/install_test.sh
                 ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})

add_test(NAME progress_line
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/progress_test.sh
                 ${CMAKE_BINARY_DIR})

add_test(NAME sqlite_import
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/sqlite_test.sh
                 ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})

# The two README recipes, run as the README writes them.
add_test(NAME readme_recipes
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/recipes_test.sh
                 ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})

set_tests_properties(install_and_package progress_line sqlite_import readme_recipes
                     PROPERTIES LABELS scripts TIMEOUT 300)
# The progress test times a large log; keep other tests from competing for
# the machine while it runs, so the run stays close to what a user sees.
set_tests_properties(progress_line PROPERTIES RUN_SERIAL TRUE)

# A plain build under valgrind's memcheck: no error and no leak on the sample
# log, short and missing files and the seed logs.
add_test(NAME valgrind_memcheck
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/valgrind_test.sh
                 ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
set_tests_properties(valgrind_memcheck PROPERTIES LABELS scripts TIMEOUT 600)
