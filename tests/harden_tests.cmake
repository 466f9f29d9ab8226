# Robustness suites: descriptors damaged at every byte, and a whole client
# life run once per allocation with that allocation failing.
errm_add_test(corruption_test SOURCES corruption_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(alloc_injection_test SOURCES alloc_injection_test.cpp LIBS errm_internal errm_descwriter)
if(TARGET errmc_core)
  errm_add_test(env_names_test SOURCES env_names_test.cpp LIBS errm_internal errmc_core)
endif()
