# Suites of the api layer: initialisation, message processing, retrieval,
# direct and user messages, shutdown, descriptor information, and a whole
# client life; the public header compiled as C; the client life under
# valgrind.
errm_add_test(init_test SOURCES init_test.cpp LIBS errm_internal)
errm_add_test(process_test SOURCES process_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(retrieval_test SOURCES retrieval_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(direct_test SOURCES direct_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(user_test SOURCES user_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(shutdown_test SOURCES shutdown_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(infos_test SOURCES infos_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(client_life_test SOURCES client_life_test.cpp LIBS errm_internal errm_descwriter)

# The public header is C: a C99 client that calls all 29 functions of the
# shared library.
add_executable(header_c_test header_c_test.c)
set_target_properties(header_c_test PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON
                                               C_EXTENSIONS OFF)
target_compile_options(header_c_test PRIVATE -std=c99 -Wall -Wextra -Werror -pedantic)
target_link_libraries(header_c_test PRIVATE errm)
add_test(NAME header_c_test COMMAND header_c_test)
set_tests_properties(header_c_test PROPERTIES
  ENVIRONMENT_MODIFICATION "ORV_VCO=set:ixl;KOVA_ERRM_LDBG=unset:"
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# The client life under valgrind: no memory error, no definite leak (not in
# the sanitizer build: valgrind cannot run sanitized programs).
if(NOT ERRM_SANITIZE)
  add_test(NAME valgrind_client_life
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/valgrind.sh $<TARGET_FILE:client_life_test>)
  set_tests_properties(valgrind_client_life PROPERTIES
    LABELS valgrind
    SKIP_RETURN_CODE 77
    TIMEOUT 600
    ENVIRONMENT "ERRM_TEST_TMP=${CMAKE_CURRENT_BINARY_DIR}/tmp")
endif()

# JSON records: kinds, typed arguments, the lines' rules and the schema.
find_package(nlohmann_json CONFIG REQUIRED)
errm_add_test(records_test SOURCES records_test.cpp LIBS errm_internal errm_descwriter
                                                         nlohmann_json::nlohmann_json)
target_compile_definitions(records_test PRIVATE ERRM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

# Every exported function from many threads at once, threads that come and
# go, and a fork while another thread is inside a call.
errm_add_test(thread_stress_test SOURCES thread_stress_test.cpp LIBS errm_internal errm_descwriter)
# Report files at hard ends: killed processes, full disk, read-only root,
# processes sharing a root, fork.
errm_add_test(report_files_test SOURCES report_files_test.cpp LIBS errm_internal errm_descwriter)
