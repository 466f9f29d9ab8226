# Robustness suites: descriptors damaged at every byte, a whole client life
# run once per allocation with that allocation failing, and the limits where
# errmc's checks and the library meet.
errm_add_test(corruption_test SOURCES corruption_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(alloc_injection_test SOURCES alloc_injection_test.cpp LIBS errm_internal errm_descwriter)
if(TARGET errmc_core)
  errm_add_test(catalogue_limits_test SOURCES catalogue_limits_test.cpp
                LIBS errm_internal errmc_core)
endif()
# Hostile hosts: files changed, replaced or planted, broken settings.
errm_add_test(hostile_test SOURCES hostile_test.cpp LIBS errm_internal errm_descwriter)
# The library's files followed, truncated, renamed and starved while it
# writes them; FIFOs, devices, names shared or ranked.
errm_add_test(writer_test SOURCES writer_test.cpp LIBS errm_internal errm_descwriter)
