! relax.f90 - the example simulator's relaxation sweep, a Fortran component:
! it reports through the module that errmc generates from solver.toml, on the
! subsystem index that the C main program loaded.
function relax(solver, cells) bind(C, name="relax") result(rc)
  use, intrinsic :: iso_c_binding, only: c_int, c_long, c_double
  use solver_messages, only: solver_set_handle, solver_relaxed_process
  implicit none
  integer(c_int), value :: solver
  integer(c_long), value :: cells
  integer(c_int) :: rc
  real(c_double) :: residual
  integer(c_int) :: sweep

  call solver_set_handle(solver)
  residual = 1.0_c_double
  sweep = 0
  do while (residual > 1.0e-6_c_double .and. sweep < 100)
    residual = residual / 8.0_c_double
    sweep = sweep + 1
  end do
  rc = solver_relaxed_process("pressure field", sweep, residual, cells)
end function relax
