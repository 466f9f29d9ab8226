# Suites of the library frame: state and settings, allocation, internal
# errors, trace, file manager, initialisation, report channels and paths.
foreach(area text_state alloc interr trace fm init channels paths)
  errm_add_test(${area}_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${area}_test.cpp LIBS errm_internal)
endforeach()
