# Debian packages from the install components: liberrm1 (the shared library),
# liberrm-dev (what a client compiles against, the documentation and errm(3))
# errmc (the catalogue compiler and errmc(1), errm-report and errm-report(1))
# and python3-errm (the Python
# package). Run-time dependencies come
# from dpkg-shlibdeps; -dev needs the same version of liberrm1.
#
# Build them with scripts/packages.sh: a Release build in a folder of its
# own, for /usr, with Debian's compiler and linker flags and
# ERRM_DEBIAN_LAYOUT on (libraries in the multiarch folder, manual pages
# compressed, each package's copyright and changelog). cpack -G DEB refuses a
# build configured otherwise, so that a package never holds whatever build
# type the last test run left in build/.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME errm)
set(CPACK_PACKAGE_VENDOR "liberrm")
set(CPACK_PACKAGE_CONTACT "liberrm maintainers <maintainers@users.noreply.c-seed-d4c8f317.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "error-message management library with a C ABI")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL lib dev errmc python)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Stripped as Debian strips (dh_strip): no symbol table, no debugging
# sections, no .comment and .note sections (cmake/errmDebStrip.cmake, run on
# the staged files).
set(CPACK_STRIP_FILES OFF)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/errmDebStrip.cmake)
set(CPACK_ERRM_STRIP ${CMAKE_STRIP})
# Control files mode 0644 (scripts 0755), as dpkg-deb expects.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_ERRM_DEBIAN_LAYOUT ${ERRM_DEBIAN_LAYOUT})
set(CPACK_ERRM_BUILD_TYPE ${CMAKE_BUILD_TYPE})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/errmCPackChecks.cmake)

set(CPACK_DEBIAN_LIB_PACKAGE_NAME liberrm${ERRM_SOVERSION})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# The control files of a shared library package: shlibs, a symbols file
# (every exported function, all there since 1.0.3) and the ldconfig trigger.
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/shlibs ${PROJECT_BINARY_DIR}/debian/symbols
    ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_LIB_DESCRIPTION "error-message management library (shared library)
 liberrm issues a program's diagnostics from compiled message catalogues: a
 client names a subsystem and a message number and passes printf arguments;
 the library formats, decorates and writes the line on the report channels
 the message names (standard output, a transcript, report files, client
 streams), limits repetitions and counts delayed errors.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME liberrm-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "liberrm${ERRM_SOVERSION} (= ${PROJECT_VERSION})")
# errm_add_catalogue() of the CMake package runs errmc.
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "errmc (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION "error-message management library (development files)
 The header errm.h, the CMake package (errm::errm, errm_add_catalogue,
 errm_install_catalogues), the pkg-config file, the manual page errm(3) and
 the documentation of liberrm in /usr/share/doc/errm.")

set(CPACK_DEBIAN_ERRMC_PACKAGE_NAME errmc)
set(CPACK_DEBIAN_ERRMC_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_ERRMC_DESCRIPTION "catalogue compiler of liberrm
 errmc compiles TOML message catalogues into the descriptors liberrm loads,
 generates typed C/C++ headers, Fortran and Python modules for them, inspects
 and decompiles descriptors, writes message references and compares catalogue
 versions. errm-report summarises, merges and shows as one HTML page the JSON
 records that the processes of one run wrote.")

# Each package's /usr/share/doc/<package>: the copyright and the changelog
# (dated from SOURCE_DATE_EPOCH when it is set). The packages are native (the
# version has no Debian revision), so the changelog is changelog.gz.
function(errm_debian_package_docs component package)
  if(ERRM_DEBIAN_LAYOUT)
    install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
                  ${PROJECT_BINARY_DIR}/debian/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endif()
endfunction()
if(ERRM_DEBIAN_LAYOUT)
  string(TIMESTAMP ERRM_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
                 ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/debian/changelog
                  RESULT_VARIABLE gzipped)
  if(NOT gzipped EQUAL 0)
    message(FATAL_ERROR "gzip of the Debian changelog failed")
  endif()
  set(lib liberrm${ERRM_SOVERSION})
  file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
       "liberrm ${ERRM_SOVERSION} ${lib} (>= ${PROJECT_VERSION})\n")
  file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
  file(STRINGS ${PROJECT_SOURCE_DIR}/include/errm.h exports REGEX "^ERRM_API ")
  set(symbols "liberrm.so.${ERRM_SOVERSION} ${lib} #MINVER#\n* Build-Depends-Package: liberrm-dev\n")
  foreach(line IN LISTS exports)
    string(REGEX MATCH "(ERRM_[A-Za-z_]+)\\(" name "${line}")
    string(APPEND symbols " ${CMAKE_MATCH_1}@Base 1.0.3\n")
  endforeach()
  file(WRITE ${PROJECT_BINARY_DIR}/debian/symbols "${symbols}")
endif()
errm_debian_package_docs(lib ${CPACK_DEBIAN_LIB_PACKAGE_NAME})
errm_debian_package_docs(dev ${CPACK_DEBIAN_DEV_PACKAGE_NAME})
errm_debian_package_docs(errmc ${CPACK_DEBIAN_ERRMC_PACKAGE_NAME})

# The Python package: pure Python, loads liberrm1 at run time; errmc gives
# the argument types of catalogues loaded without a generated module.
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-errm)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, liberrm1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS "errmc (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "error-message management library (Python package errm)
 The errm package calls liberrm from Python through ctypes: a session as a
 context manager, subsystems loaded from their descriptors, messages issued
 or retrieved with their arguments checked against the catalogue's formats
 before the call, and the library's failures raised as exceptions that carry
 the result code, its name and its explanation.")
errm_debian_package_docs(python ${CPACK_DEBIAN_PYTHON_PACKAGE_NAME})

include(CPack)
