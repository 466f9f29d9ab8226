# Read by cpack before it packages: Debian packages come only from a build
# that scripts/packages.sh configured (Release, Debian layout), never from
# whatever build type a development folder holds.
if(CPACK_GENERATOR STREQUAL "DEB")
  if(NOT CPACK_ERRM_DEBIAN_LAYOUT OR NOT CPACK_ERRM_BUILD_TYPE STREQUAL "Release")
    message(FATAL_ERROR "Debian packages are built by scripts/packages.sh (a Release build "
                        "with ERRM_DEBIAN_LAYOUT=ON in a folder of its own); this build is "
                        "'${CPACK_ERRM_BUILD_TYPE}', Debian layout '${CPACK_ERRM_DEBIAN_LAYOUT}'")
  endif()
endif()
