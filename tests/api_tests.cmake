# Suites of the exported API: retrieval, direct and user messages, shutdown,
# descriptor information, and a whole client life; the public header
# compiled as C; the client life under valgrind.
errm_add_test(retrieval_test SOURCES retrieval_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(direct_test SOURCES direct_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(user_test SOURCES user_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(shutdown_test SOURCES shutdown_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(infos_test SOURCES infos_test.cpp LIBS errm_internal errm_descwriter)
