# Suites of the reports layer: the file manager, report channels and paths,
# layouts, follow-up actions.
foreach(area fm channels paths)
  errm_add_test(${area}_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${area}_test.cpp LIBS errm_internal)
endforeach()
errm_add_test(layout_test SOURCES layout_test.cpp LIBS errm_internal errm_descwriter)
errm_add_test(followup_test SOURCES followup_test.cpp LIBS errm_internal errm_descwriter)
