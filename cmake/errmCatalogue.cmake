# errm_add_catalogue(<target> SOURCES a.toml ... [DESTINATION dir])
#
# Compiles each catalogue source with errmc at build time into its descriptor
# errm_desc_<SUBSYSTEM>.bin and its header errm_<name>.h (<name> being the
# source's file name without extension), both written to DESTINATION
# (default: <current binary dir>/errm_catalogues; a relative path is taken
# from the current binary dir). They are rebuilt when a source changes, built
# before <target>, and DESTINATION is put on <target>'s include path.
# errmc is the imported executable errm::errmc (in the library's own build,
# the errmc target).
function(errm_add_catalogue target)
  cmake_parse_arguments(ERRM_CAT "" "DESTINATION" "SOURCES" ${ARGN})
  if(ERRM_CAT_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "errm_add_catalogue: unknown arguments ${ERRM_CAT_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ERRM_CAT_SOURCES)
    message(FATAL_ERROR "errm_add_catalogue: no SOURCES given for ${target}")
  endif()
  if(NOT TARGET errm::errmc)
    message(FATAL_ERROR "errm_add_catalogue: the executable errm::errmc is not known")
  endif()
  set(dest ${CMAKE_CURRENT_BINARY_DIR}/errm_catalogues)
  if(ERRM_CAT_DESTINATION)
    get_filename_component(dest "${ERRM_CAT_DESTINATION}" ABSOLUTE
                           BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  file(MAKE_DIRECTORY ${dest})
  set(headers)
  foreach(src IN LISTS ERRM_CAT_SOURCES)
    get_filename_component(src "${src}" ABSOLUTE)
    get_filename_component(name "${src}" NAME_WE)
    set(header ${dest}/errm_${name}.h)
    add_custom_command(
      OUTPUT ${header}
      COMMAND errm::errmc compile ${src} -o ${dest}
      COMMAND errm::errmc header ${src} -o ${header}
      DEPENDS ${src} errm::errmc
      COMMENT "errmc: ${name}"
      VERBATIM)
    list(APPEND headers ${header})
  endforeach()
  string(MAKE_C_IDENTIFIER "${target}_errm_catalogues" catalogues)
  add_custom_target(${catalogues} DEPENDS ${headers})
  add_dependencies(${target} ${catalogues})
  target_include_directories(${target} PRIVATE ${dest})
endfunction()
