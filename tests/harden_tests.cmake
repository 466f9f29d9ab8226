# Robustness suites: descriptors damaged at every byte, and a whole client
# life run once per allocation with that allocation failing.
errm_add_test(corruption_test SOURCES corruption_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(alloc_injection_test SOURCES alloc_injection_test.cpp LIBS errm_internal errm_descwriter)
