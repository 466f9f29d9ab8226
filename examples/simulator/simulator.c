/*
** simulator.c - a short simulation run that issues its diagnostics through
** liberrm, using the message functions that errmc generated from the
** catalogues sim.toml, solver.toml and io.toml.
**
** Usage: simulator RUN_DIR DESCRIPTOR_DIR
** Needs ORV_VCO (a platform code such as ixl). The report files are left in
** RUN_DIR: run.log, run.rep and the transcript run.tra.
*/
#include <errm.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "errm_io.h"
#include "errm_sim.h"
#include "errm_solver.h"

/* The Fortran relaxation sweep (relax.f90), when the build has Fortran. */
#ifdef SIM_WITH_FORTRAN
int relax(int solver, long cells);
#endif

static int loaded(const char *name, int rc) {
    if (rc != 0) fprintf(stderr, "cannot load the %s catalogue (code %d)\n", name, rc);
    return rc == 0;
}

int main(int argc, char **argv) {
    char root[1024];
    SIM_handle sim = {0};
    SOLVER_handle solver = {0};
    IO_handle io = {0};
    int step;
    unsigned delayed;
    const char *text;
    FILE *chi;

    if (argc != 3) {
        fprintf(stderr, "usage: %s RUN_DIR DESCRIPTOR_DIR\n", argv[0]);
        return 2;
    }
    snprintf(root, sizeof root, "%s/run", argv[1]);
    ERRM_Set_RootReportFiles(root);
    snprintf(root, sizeof root, "%s/run.tra", argv[1]);
    ERRM_Set_TranScriptFileName(root);
    ERRM_Set_Root_ForMemoryDescriptor(argv[2]);
    /* Files that messages copy onto the reports are searched in the
       directories listed by this variable. */
    ERRM_Set_SearchPath("SIM_DATA_PATH");
    if (!ERRM_Init()) {
        fprintf(stderr, "the library did not start: is ORV_VCO set?\n");
        return 1;
    }
    /* Each catalogue's header loads its subsystem and gives a handle that
       only that subsystem's message functions take. */
    if (!loaded("sim", SIM_load(&sim)) || !loaded("solver", SOLVER_load(&solver)) ||
        !loaded("io", IO_load(&io)))
        return 1;

    /* The CHI channel: a stream of short lines for a front end. */
    snprintf(root, sizeof root, "%s/run.chi", argv[1]);
    chi = fopen(root, "w");
    if (chi != NULL) ERRM_Set_ChiFileHandle(chi);

    SIM_RUN_START_process(sim, "demo", 100);
    SIM_OPEN_FAILED_process(sim, "mesh.dat", 13);

    /* A step that keeps failing: three lines, a notice, then silence on
       standard output; the log file receives every occurrence. */
    for (step = 1; step <= 5; ++step) SIM_STEP_REJECTED_process(sim, step, 0.5 / step);

    SOLVER_ITERATION_process(solver, 1); /* DEBUG: never printed */
    SOLVER_NO_CONVERGENCE_process(solver, 50, 3.2e-4);
    if (SOLVER_SINGULAR_process(solver, "K") < 0)
        ERRM_DisplayUserMessage(0, 7, "SOLVER", NULL, 0x1 | 0x20, "", "recovering with a &lt;regularised&gt; matrix\\n");

#ifdef SIM_WITH_FORTRAN
    relax((int)solver.index, 4096L);
#endif

    SIM_LATE_CHECK_process(sim, 12.5);
    IO_WRITTEN_process(io, (size_t)4096, "out/fields.dat");
    IO_DISK_INFO_process(io);

    /* A retrieved text is not printed: the client decides what to do. */
    text = SIM_OPEN_FAILED_text(sim, "restart.dat", 2);
    if (text != NULL) printf("retrieved: %s", text);

    /* A trace line printed when SIM_TRACE_LEVEL is 2 or more. */
    ERRM_DirectProcessError("TRACE", "SL", "SIM_TRACE_LEVEL", 2, "solver time %.1f ms", 8.5);

    delayed = ERRM_GetNumberOfDelayedErrors();
    SIM_SUMMARY_process(sim, delayed);
    SIM_RUN_DONE_process(sim, "demo");

    if (chi != NULL) {
        ERRM_Reset_ChiFileHandle();
        fclose(chi);
    }
    ERRM_FInit();
    printf("report files are in %s\n", argv[1]);
    return 0;
}
