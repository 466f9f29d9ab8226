# The Python package's tests (pytest), one process per file: the library
# allows 15 descriptor loads per process. They load the build's library and
# run its errmc; not in the sanitizer builds, whose library needs the
# sanitizer runtime loaded first.
find_program(ERRM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(ERRM_PYTHON3 python3)
if(ERRM_PYTHON3 AND ERRM_BUILD_TOOLS AND NOT ERRM_SANITIZE AND NOT ERRM_SANITIZE_THREAD)
  execute_process(COMMAND ${ERRM_PYTHON3} -c "import pytest, mypy, setuptools, ensurepip"
                  RESULT_VARIABLE no_pytest OUTPUT_QUIET ERROR_QUIET)
  if(no_pytest)
    message(STATUS "No pytest, mypy, setuptools or venv for ${ERRM_PYTHON3}: "
                   "the Python tests are left out")
  else()
    foreach(area api args generated threads)
      add_test(NAME python_${area}
               COMMAND ${ERRM_PYTHON3} -m pytest -q -p no:cacheprovider
                       --basetemp=${CMAKE_CURRENT_BINARY_DIR}/pytest_${area}
                       ${PROJECT_SOURCE_DIR}/python/tests/test_${area}.py
               WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
      set_tests_properties(python_${area} PROPERTIES ENVIRONMENT
        "ORV_VCO=ixl;ERRM_LIBRARY=$<TARGET_FILE:errm>;ERRM_ERRMC=$<TARGET_FILE:errmc>;\
PYTHONPATH=${PROJECT_BINARY_DIR}/python;PYTHONDONTWRITEBYTECODE=1")
    endforeach()
    # pip install --no-build-isolation of python/ into a virtual environment.
    add_test(NAME python_pip_install
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install/python_pip_test.sh ${PROJECT_SOURCE_DIR}
                     $<TARGET_FILE:errm> $<TARGET_FILE:errmc>)
  endif()
endif()
