# Tests of the descriptor writer/reader and of errmc, the catalogue compiler.
errm_add_test(descwriter_test SOURCES descwriter_test.cpp LIBS errm_descwriter)
