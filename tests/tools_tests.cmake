# Tests of the descriptor writer/reader and of errmc, the catalogue compiler.
errm_add_test(descwriter_test SOURCES descwriter_test.cpp LIBS errm_descwriter)

# errmc is run as built; its parts are linked for the in-process cases. The
# generated headers are also compiled with clang++ when it is installed.
find_program(ERRM_CLANGXX clang++)
errm_add_test(errmc_test SOURCES errmc_test.cpp LIBS errmc_core)
add_dependencies(errmc_test errmc)
target_compile_definitions(errmc_test PRIVATE
  ERRMC_PATH="$<TARGET_FILE:errmc>"
  ERRM_INCLUDE_DIR="${PROJECT_SOURCE_DIR}/include"
  ERRM_C_COMPILER="${CMAKE_C_COMPILER}"
  ERRM_CXX_COMPILER="${CMAKE_CXX_COMPILER}"
  ERRM_CLANGXX="$<$<BOOL:${ERRM_CLANGXX}>:${ERRM_CLANGXX}>")

# Catalogues compiled by errmc, loaded and processed by the library.
errm_add_test(errmc_library_test SOURCES errmc_library_test.cpp LIBS errm_internal errm_descwriter)
add_dependencies(errmc_library_test errmc)
target_compile_definitions(errmc_library_test PRIVATE
  ERRMC_PATH="$<TARGET_FILE:errmc>"
  ERRM_EXAMPLE_DIR="${PROJECT_SOURCE_DIR}/examples/simulator")

# Reference documents, --json, diff and the Fortran generator, on the golden
# catalogue under golden/.
# The HTML page's filter runs in a headless chromium when one is installed.
find_program(ERRM_CHROMIUM chromium)
errm_add_test(errmc_catalogue_test SOURCES errmc_catalogue_test.cpp LIBS errmc_core)
add_dependencies(errmc_catalogue_test errmc)
target_compile_definitions(errmc_catalogue_test PRIVATE
  ERRMC_PATH="$<TARGET_FILE:errmc>"
  ERRM_CHROMIUM="$<$<BOOL:${ERRM_CHROMIUM}>:${ERRM_CHROMIUM}>"
  ERRM_GOLDEN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/golden")

# errmc carries nothing of the library but its conversion parser: no
# ERRM_ export and no load-time hook.
find_program(ERRM_NM nm)
if(ERRM_NM)
  add_test(NAME errmc_links_no_library
           COMMAND sh -c "'${ERRM_NM}' -C '$<TARGET_FILE:errmc>' > errmc.nm && ! grep -E '^[0-9a-f]* *[A-Za-z] (ERRM_|errm_OnLoad)' errmc.nm")
endif()
# errm-report over record files the tests write; errmc for the anchors of its
# reference document.
errm_add_test(errm_report_test SOURCES errm_report_test.cpp LIBS errm_report_core)
add_dependencies(errm_report_test errm-report errmc)
target_compile_definitions(errm_report_test PRIVATE
  ERRM_REPORT_PATH="$<TARGET_FILE:errm-report>"
  ERRMC_PATH="$<TARGET_FILE:errmc>"
  ERRM_EXAMPLE_DIR="${PROJECT_SOURCE_DIR}/examples/simulator")
# The page loaded in a real browser, when chromium is installed.
find_program(ERRM_CHROMIUM NAMES chromium chromium-browser)
if(ERRM_CHROMIUM)
  add_test(NAME errm_report_page
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/report/page_test.sh $<TARGET_FILE:errm-report>
                   ${ERRM_CHROMIUM})
endif()
