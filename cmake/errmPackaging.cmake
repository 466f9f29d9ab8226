# Debian packages from the install components (cpack -G DEB in the build
# directory): liberrm1 (the shared library), liberrm-dev (what a client
# compiles against) and errmc (the catalogue compiler, and errm-report, the
# run-summary tool). Run-time dependencies come from dpkg-shlibdeps; -dev
# needs the same version of liberrm1.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME errm)
set(CPACK_PACKAGE_VENDOR "liberrm")
set(CPACK_PACKAGE_CONTACT "liberrm maintainers <liberrm@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "error-message management library with a C ABI")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL lib dev errmc)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_LIB_PACKAGE_NAME liberrm1)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIB_DESCRIPTION "error-message management library (shared library)")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME liberrm-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "liberrm1 (= ${PROJECT_VERSION})")
# errm_add_catalogue() of the CMake package runs errmc.
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "errmc (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "error-message management library (header, CMake package, pkg-config file)")

set(CPACK_DEBIAN_ERRMC_PACKAGE_NAME errmc)
set(CPACK_DEBIAN_ERRMC_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_ERRMC_DESCRIPTION
    "catalogue compiler of liberrm: TOML sources to descriptors and C headers; errm-report: summaries and pages of a run's JSON records")

include(CPack)
