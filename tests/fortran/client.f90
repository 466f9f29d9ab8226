! client.f90 - the Fortran client test: loads the FCL catalogue through the
! module errmc generates and prints the same messages with the same values as
! client.c; the test compares the two outputs byte for byte.
program client
  use, intrinsic :: iso_c_binding
  use, intrinsic :: iso_fortran_env, only: output_unit
  use fcl_messages
  implicit none
  interface
    function errm_set_root(dir) bind(C, name="ERRM_Set_Root_ForMemoryDescriptor") result(r)
      import
      character(kind=c_char), dimension(*), intent(in) :: dir
      integer(c_int) :: r
    end function errm_set_root
    function errm_init() bind(C, name="ERRM_Init") result(r)
      import
      integer(c_int) :: r
    end function errm_init
    function errm_finit() bind(C, name="ERRM_FInit") result(r)
      import
      integer(c_int) :: r
    end function errm_finit
    function c_fflush(stream) bind(C, name="fflush") result(r)
      import
      type(c_ptr), value :: stream
      integer(c_int) :: r
    end function c_fflush
  end interface
  character(len=1024) :: dir
  integer(c_int) :: rc

  call get_command_argument(1, dir)
  rc = errm_set_root(trim(dir) // c_null_char)
  if (errm_init() == 0) stop 1
  if (fcl_load() /= 0) stop 1
  call put(fcl_strings_text("naïve ☃.dat", "ab", "Z", ""))
  call put(fcl_integers_text(-huge(0_c_int) - 1_c_int, huge(0_c_int), -1_c_int, 255_c_int, &
                             -huge(0_c_long) - 1_c_long, huge(0_c_long_long), -1_c_long, &
                             -1_c_size_t, -huge(0_c_intmax_t) - 1_c_intmax_t))
  call put(fcl_reals_text(0.1_c_double, -1.5e-300_c_double, 3.14159265_c_double, 3_c_int, &
                          2.0_c_double / 3.0_c_double, 1.0_c_long_double / 3.0_c_long_double))
  flush(output_unit)
  rc = fcl_done_process(4_c_int)
  if (c_fflush(c_null_ptr) /= 0) stop 1
  write(output_unit, '(a,i0)') 'rc ', rc
  rc = errm_finit()

contains

  subroutine put(text)
    character(*), intent(in) :: text
    if (len(text) == 0) then
      write(output_unit, '(a)') '(null)'
    else
      write(output_unit, '(a)', advance='no') text
    end if
  end subroutine put

end program client
