# The Fortran client: a catalogue compiled by errmc, printed once by a C
# client through the generated header and once by a Fortran client through
# the generated module; the two outputs must be the same bytes, and those of
# the expected file.
if(NOT ERRM_HAVE_FORTRAN)
  return()
endif()
set(FCL_SRC ${CMAKE_CURRENT_SOURCE_DIR}/fortran)
set(FCL_OUT ${CMAKE_CURRENT_BINARY_DIR}/fortran)
file(MAKE_DIRECTORY ${FCL_OUT})
add_custom_command(
  OUTPUT ${FCL_OUT}/errm_desc_FCL.bin ${FCL_OUT}/errm_fcl.h ${FCL_OUT}/fcl_messages.f90
         ${FCL_OUT}/fcl_messages.c
  COMMAND $<TARGET_FILE:errmc> compile ${FCL_SRC}/client.toml -o ${FCL_OUT}
  COMMAND $<TARGET_FILE:errmc> header ${FCL_SRC}/client.toml -o ${FCL_OUT}/errm_fcl.h
  COMMAND $<TARGET_FILE:errmc> header ${FCL_SRC}/client.toml --lang fortran
          -o ${FCL_OUT}/fcl_messages.f90
  DEPENDS ${FCL_SRC}/client.toml errmc
  COMMENT "errmc: client.toml")

add_executable(fortran_client_c ${FCL_SRC}/client.c ${FCL_OUT}/errm_fcl.h)
add_executable(fortran_client_f ${FCL_SRC}/client.f90 ${FCL_OUT}/fcl_messages.f90
                                ${FCL_OUT}/fcl_messages.c)
foreach(t fortran_client_c fortran_client_f)
  target_include_directories(${t} PRIVATE ${FCL_OUT})
  target_compile_options(${t} PRIVATE -Wall -Wextra -Werror)
  target_link_libraries(${t} PRIVATE errm)
endforeach()
target_compile_options(fortran_client_f PRIVATE $<$<COMPILE_LANGUAGE:Fortran>:-std=f2003>)
set_target_properties(fortran_client_f PROPERTIES Fortran_MODULE_DIRECTORY ${FCL_OUT}/mod)

add_test(NAME fortran_client_matches_c
         COMMAND sh -c "\"$0\" \"$2\" > c.out && \"$1\" \"$2\" > f.out && cmp c.out f.out && cmp c.out \"$3\""
                 $<TARGET_FILE:fortran_client_c> $<TARGET_FILE:fortran_client_f> ${FCL_OUT}/
                 ${FCL_SRC}/expected.txt
         WORKING_DIRECTORY ${FCL_OUT})
set_tests_properties(fortran_client_matches_c PROPERTIES ENVIRONMENT "ORV_VCO=ixl")
