# Suites of the platform and base layers: state and settings, allocation,
# internal errors, trace, options, the conversion parser (also as errmc reads
# formats, when the tools are built).
foreach(area text_state alloc interr trace options)
  errm_add_test(${area}_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${area}_test.cpp LIBS errm_internal)
endforeach()
if(TARGET errmc_core)
  errm_add_test(conv_test SOURCES conv_test.cpp LIBS errm_internal errm_descwriter errmc_core)
endif()
