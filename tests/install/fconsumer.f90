! The install test's Fortran client: the message of consumer.c, through the
! module that errm_add_catalogue(... LANG fortran) generated, from the
! descriptor folder given as its argument.
program fconsumer
  use, intrinsic :: iso_c_binding
  use app_messages
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
  end interface
  character(len=1024) :: dir
  integer(c_int) :: rc
  call get_command_argument(1, dir)
  rc = errm_set_root(trim(dir) // c_null_char)
  if (errm_init() /= 1) error stop 1
  rc = app_load()
  if (rc /= 0) error stop 2
  rc = app_started_process('fortran', 2_c_int)
  rc = errm_finit()
end program fconsumer
