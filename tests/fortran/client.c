/* client.c - the C side of the Fortran client test: prints the same messages
** with the same values as client.f90, through the generated C header. */
#include <errm.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>

#include "errm_fcl.h"

static void put(const char *text) { fputs(text != NULL ? text : "(null)\n", stdout); }

int main(int argc, char **argv) {
    FCL_handle ss;
    int rc;
    if (argc != 2) return 2;
    ERRM_Set_Root_ForMemoryDescriptor(argv[1]);
    if (!ERRM_Init() || FCL_load(&ss) != 0) return 1;
    put(FCL_STRINGS_text(ss, "na\xc3\xafve \xe2\x98\x83.dat", "ab", 'Z', ""));
    put(FCL_INTEGERS_text(ss, INT_MIN, INT_MAX, UINT_MAX, 255u, LONG_MIN, LLONG_MAX,
                          ULONG_MAX, (size_t)SIZE_MAX, INTMAX_MIN));
    put(FCL_REALS_text(ss, 0.1, -1.5e-300, 3.14159265, 3, 2.0 / 3.0, 1.0L / 3.0L));
    rc = FCL_DONE_process(ss, 4);
    fflush(NULL);
    printf("rc %d\n", rc);
    ERRM_FInit();
    return 0;
}
