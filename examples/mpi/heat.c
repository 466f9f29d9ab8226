/*
** heat.c - a parallel heat solver under MPI that issues its diagnostics
** through liberrm, one process per rank.
**
** Usage: mpirun -np 8 heat RUN_DIR DESCRIPTOR_DIR
** Needs ORV_VCO (a platform code such as ixl). Each rank writes its own
** report files RUN_DIR/run.<rank>.log and .rep (the library tells the ranks
** apart from the launcher's environment); with ERRM_OPTIONS=json=RUN_DIR/run.json
** each also writes its records to run.<rank>.json.
**
** The run: 20 explicit steps of the heat equation over a 1-D rod split
** between the ranks (halo exchange, a global residual), every rank warning
** at every step; then unsynchronised smoothing sweeps that keep every rank
** writing, until the rank named by HEAT_FAIL_RANK (default 5) finds its
** solution diverged, raises a FATAL message and aborts the whole run.
*/
#include <errm.h>
#include <mpi.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "errm_heat.h"

enum {
    CELLS = 64,          /* cells per rank */
    STEPS = 20,          /* steps of the solve */
    SYNCED_SWEEPS = 10,  /* sweeps every rank writes before the failure may come */
    FAIL_AFTER = 20,     /* sweeps of the failing rank after those */
    MAX_SWEEPS = 20000   /* a bound, should the abort never come */
};

static void pause_ms(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

int main(int argc, char **argv) {
    int rank, size, step, sweep, fail_rank;
    double u[CELLS + 2], next[CELLS + 2];
    const double r = 0.45; /* dt / dx^2: stable below 0.5 */
    char root[1024];
    HEAT_handle heat = {0};
    long first;
    int i;

    MPI_Init(&argc, &argv);
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    if (argc != 3) {
        if (rank == 0) fprintf(stderr, "usage: %s RUN_DIR DESCRIPTOR_DIR\n", argv[0]);
        MPI_Finalize();
        return 2;
    }
    fail_rank = getenv("HEAT_FAIL_RANK") != NULL ? atoi(getenv("HEAT_FAIL_RANK")) : 5;

    snprintf(root, sizeof root, "%s/run", argv[1]);
    ERRM_Set_RootReportFiles(root);
    ERRM_Set_Root_ForMemoryDescriptor(argv[2]);
    if (!ERRM_Init() || HEAT_load(&heat) != 0) {
        fprintf(stderr, "rank %d: the library did not start (is ORV_VCO set?)\n", rank);
        MPI_Abort(MPI_COMM_WORLD, 1);
    }

    first = (long)rank * CELLS;
    HEAT_RANK_START_process(heat, rank, size, first, first + CELLS - 1);

    /* A hot spot in the middle of a rough rod. */
    for (i = 0; i < CELLS + 2; ++i) {
        long x = first + i - 1;
        u[i] = x == (long)size * CELLS / 2 ? 1000.0 : 3.0 * (double)(x % 7);
    }
    for (step = 1; step <= STEPS; ++step) {
        int left = rank > 0 ? rank - 1 : MPI_PROC_NULL;
        int right = rank < size - 1 ? rank + 1 : MPI_PROC_NULL;
        double change = 0.0, residual;
        MPI_Sendrecv(&u[1], 1, MPI_DOUBLE, left, 0, &u[CELLS + 1], 1, MPI_DOUBLE, right, 0,
                     MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        MPI_Sendrecv(&u[CELLS], 1, MPI_DOUBLE, right, 1, &u[0], 1, MPI_DOUBLE, left, 1,
                     MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        if (left == MPI_PROC_NULL) u[0] = 0.0;
        if (right == MPI_PROC_NULL) u[CELLS + 1] = 0.0;
        for (i = 1; i <= CELLS; ++i) {
            next[i] = u[i] + r * (u[i - 1] - 2.0 * u[i] + u[i + 1]);
            change = fmax(change, fabs(next[i] - u[i]));
        }
        for (i = 1; i <= CELLS; ++i) u[i] = next[i];
        MPI_Allreduce(&change, &residual, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
        HEAT_SLOW_CONVERGENCE_process(heat, step, residual);
        /* The boundary ranks of each pair check their CFL number every five steps. */
        if (rank % 2 == 0 && step % 5 == 0) HEAT_CFL_process(heat, step, r + 0.01 * step);
    }

    /* Smoothing sweeps, each rank on its own: after the first ones, which
       every rank writes before any may fail, nothing waits for anyone. */
    for (sweep = 1; sweep <= MAX_SWEEPS; ++sweep) {
        double change = 0.0;
        for (i = 2; i < CELLS; ++i) {
            double v = (u[i - 1] + u[i] + u[i + 1]) / 3.0;
            change = fmax(change, fabs(v - u[i]));
            u[i] = v;
        }
        HEAT_SMOOTHING_process(heat, sweep, change);
        if (sweep == SYNCED_SWEEPS) MPI_Barrier(MPI_COMM_WORLD);
        if (rank == fail_rank && sweep == SYNCED_SWEEPS + FAIL_AFTER) {
            HEAT_DIVERGED_process(heat, sweep, 3.5e+12, first + CELLS / 2);
            MPI_Abort(MPI_COMM_WORLD, 3);
        }
        pause_ms(1);
    }
    HEAT_DONE_process(heat, rank, MAX_SWEEPS);
    ERRM_FInit();
    MPI_Finalize();
    return 0;
}
