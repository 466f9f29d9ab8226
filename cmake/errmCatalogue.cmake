# CMake functions of the errm package: catalogues compiled at build time and
# their descriptors installed.
#
# errm_add_catalogue(<target> SOURCES a.toml ... [DESTINATION dir]
#                    [LANG c|fortran ...])
#
# Compiles each catalogue source with errmc at build time into the files of
# the languages asked for (default: LANG c), all written to DESTINATION
# (default: <current binary dir>/errm_catalogues; a relative path is taken
# from the current binary dir), <name> being the source's file name without
# extension:
#   always          errm_desc_<SUBSYSTEM>.bin, the descriptor the library loads
#   LANG c          errm_<name>.h, the C/C++ header; DESTINATION is put on
#                   <target>'s include path
#   LANG fortran    errm_<name>.f90, the Fortran module, and
#                   errm_<name>_shims.c, the C functions it binds to; both are
#                   added to <target>'s sources (the project must enable
#                   Fortran). The two names differ in more than their
#                   extension, so no build system compiles them to objects of
#                   the same name.
# Every file is a declared output: a deleted or changed one is written again
# by the next build, as is every file of a source that changed. They are
# built before <target>. <SUBSYSTEM> is read from the source's top-level
# `subsystem = "..."` line when CMake configures, and CMake configures again
# when a source changes.
# errmc is the imported executable errm::errmc (in the library's own build,
# the errmc target).
#
# errm_install_catalogues(<target> DESTINATION dir [COMPONENT component])
#
# Installs the descriptors that errm_add_catalogue compiles for <target> into
# dir (relative to the install prefix, or absolute), so that the installed
# program finds them where it sets its descriptor folder
# (ERRM_Set_Root_ForMemoryDescriptor).

# The subsystem a catalogue source names, upper-cased as in the file name of
# its descriptor.
function(_errm_catalogue_subsystem src out)
  file(STRINGS "${src}" lines REGEX "^[ \t]*subsystem[ \t]*=")
  list(LENGTH lines count)
  if(count EQUAL 1 AND lines MATCHES "^[ \t]*subsystem[ \t]*=[ \t]*(\"([^\"]+)\"|'([^']+)')[ \t]*(#.*)?$")
    set(name "${CMAKE_MATCH_2}${CMAKE_MATCH_3}")
    string(TOUPPER "${name}" name)
    set(${out} "${name}" PARENT_SCOPE)
  else()
    message(FATAL_ERROR "errm_add_catalogue: ${src} has no single line "
                        "'subsystem = \"NAME\"' (errmc check ${src} tells why)")
  endif()
endfunction()

function(errm_add_catalogue target)
  cmake_parse_arguments(ERRM_CAT "" "DESTINATION" "SOURCES;LANG" ${ARGN})
  if(ERRM_CAT_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "errm_add_catalogue: unknown arguments ${ERRM_CAT_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ERRM_CAT_SOURCES)
    message(FATAL_ERROR "errm_add_catalogue: no SOURCES given for ${target}")
  endif()
  if(NOT TARGET errm::errmc)
    message(FATAL_ERROR "errm_add_catalogue: the executable errm::errmc is not known")
  endif()
  if(NOT ERRM_CAT_LANG)
    set(ERRM_CAT_LANG c)
  endif()
  foreach(lang IN LISTS ERRM_CAT_LANG)
    if(NOT lang MATCHES "^(c|fortran)$")
      message(FATAL_ERROR "errm_add_catalogue: LANG ${lang}: expected c or fortran")
    endif()
  endforeach()
  if("fortran" IN_LIST ERRM_CAT_LANG)
    get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
    if(NOT "Fortran" IN_LIST languages)
      message(FATAL_ERROR "errm_add_catalogue: LANG fortran needs Fortran enabled "
                          "(project(... Fortran) or enable_language(Fortran))")
    endif()
  endif()
  set(dest ${CMAKE_CURRENT_BINARY_DIR}/errm_catalogues)
  if(ERRM_CAT_DESTINATION)
    get_filename_component(dest "${ERRM_CAT_DESTINATION}" ABSOLUTE
                           BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  file(MAKE_DIRECTORY ${dest})
  foreach(src IN LISTS ERRM_CAT_SOURCES)
    get_filename_component(src "${src}" ABSOLUTE)
    get_filename_component(name "${src}" NAME_WE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${src}")
    _errm_catalogue_subsystem("${src}" subsystem)
    set(descriptor ${dest}/errm_desc_${subsystem}.bin)
    set(outputs ${descriptor})
    set(commands COMMAND errm::errmc compile ${src} -o ${dest})
    if("c" IN_LIST ERRM_CAT_LANG)
      list(APPEND outputs ${dest}/errm_${name}.h)
      list(APPEND commands COMMAND errm::errmc header ${src} -o ${dest}/errm_${name}.h)
    endif()
    if("fortran" IN_LIST ERRM_CAT_LANG)
      set(module ${dest}/errm_${name}.f90)
      set(shims ${dest}/errm_${name}_shims.c)
      list(APPEND outputs ${module} ${shims})
      list(APPEND commands COMMAND errm::errmc header ${src} --lang fortran -o ${module}
                                   --shims ${shims})
      target_sources(${target} PRIVATE ${module} ${shims})
    endif()
    add_custom_command(
      OUTPUT ${outputs}
      ${commands}
      DEPENDS ${src} errm::errmc
      COMMENT "errmc: ${name}"
      VERBATIM)
    string(MAKE_C_IDENTIFIER "${target}_errm_${name}" step)
    add_custom_target(${step} DEPENDS ${outputs})
    add_dependencies(${target} ${step})
    set_property(TARGET ${target} APPEND PROPERTY ERRM_CATALOGUE_DESCRIPTORS ${descriptor})
  endforeach()
  if("c" IN_LIST ERRM_CAT_LANG)
    target_include_directories(${target} PRIVATE ${dest})
  endif()
endfunction()

function(errm_install_catalogues target)
  cmake_parse_arguments(ERRM_INST "" "DESTINATION;COMPONENT" "" ${ARGN})
  if(ERRM_INST_UNPARSED_ARGUMENTS OR NOT ERRM_INST_DESTINATION)
    message(FATAL_ERROR "errm_install_catalogues: usage: errm_install_catalogues(<target> "
                        "DESTINATION dir [COMPONENT component])")
  endif()
  get_property(descriptors TARGET ${target} PROPERTY ERRM_CATALOGUE_DESCRIPTORS)
  if(NOT descriptors)
    message(FATAL_ERROR "errm_install_catalogues: errm_add_catalogue gave ${target} no catalogue")
  endif()
  set(component)
  if(ERRM_INST_COMPONENT)
    set(component COMPONENT ${ERRM_INST_COMPONENT})
  endif()
  install(FILES ${descriptors} DESTINATION ${ERRM_INST_DESTINATION} ${component})
endfunction()
