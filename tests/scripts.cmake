# Tests that drive the built program, its installation and outside tools
# (cmake --install, cpack, dpkg-deb, man, script, sqlite3, PostgreSQL, pandas)
# through shell scripts in scripts/.  Each script takes the build tree and,
# where it needs them, the source tree (the sample log, the manual page) and
# the program that writes the log it mines.

find_program(QUORVIL_BASH bash REQUIRED)

add_test(NAME install_and_package
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/install_test.sh
                 ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})

add_test(NAME progress_line
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/progress_test.sh
                 ${CMAKE_BINARY_DIR})

# The log the loading scripts mine: Latin-1 text, object numbers past 2^31
# and a statement longer than 128 KiB, written by the builder.
add_executable(qv_loading_log ${CMAKE_CURRENT_SOURCE_DIR}/support/loading_log.cpp)
target_link_libraries(qv_loading_log PRIVATE qv_builder)

add_test(NAME sqlite_import
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/sqlite_test.sh
                 ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} $<TARGET_FILE:qv_loading_log>)

# A CSV of Latin-1 bytes loaded into PostgreSQL (a server of its own, started
# in a temporary folder) and into pandas.  Needs root and the Debian packages
# postgresql and python3-pandas; without them it is skipped, not passed.
add_test(NAME load_postgresql_pandas
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/loading_test.sh
                 ${CMAKE_BINARY_DIR} $<TARGET_FILE:qv_loading_log>)
set_tests_properties(load_postgresql_pandas PROPERTIES SKIP_RETURN_CODE 77)

# Python's csv module on a statement longer than its default field limit.
add_test(NAME python_csv_field_limit
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/field_limit_test.sh
                 ${CMAKE_BINARY_DIR} $<TARGET_FILE:qv_loading_log>)


# The two README recipes, run as the README writes them.
add_test(NAME readme_recipes
         COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/recipes_test.sh
                 ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})

set_tests_properties(install_and_package progress_line sqlite_import load_postgresql_pandas python_csv_field_limit
                     readme_recipes
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

# quorvil-decode's AVX2 build: nothing of it outside the functions it calls
# only on a processor with AVX2.
if(TARGET quorvil_decode_avx2)
  add_test(NAME decode_runs_anywhere
           COMMAND ${QUORVIL_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/isa_guard_test.sh $<TARGET_FILE:quorvil-decode>)
endif()
