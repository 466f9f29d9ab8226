# Suites of the descriptor layer: loading and verifying descriptors, the
# entry cache and lookup.
errm_add_test(descriptor_test SOURCES descriptor_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(entry_cache_test SOURCES entry_cache_test.cpp LIBS errm_internal errm_descwriter)
