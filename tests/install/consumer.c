/* A client of the installed library: prints the library's version and date,
** then, when given the folder of its catalogue, one message through the
** header that errmc generated for it. */
#include <errm.h>
#include <stdio.h>

#ifdef WITH_CATALOGUE
#include "errm_app.h"
#endif

int main(int argc, char **argv) {
    unsigned char v[4];
    char date[12];
    ERRM_GetVersion(v);
    ERRM_GetDate(date);
    printf("%d.%d.%d.%d %s\n", v[0], v[1], v[2], v[3], date);
#ifdef WITH_CATALOGUE
    if (argc == 2) {
        APP_handle app;
        int rc;
        ERRM_Set_Root_ForMemoryDescriptor(argv[1]);
        if (!ERRM_Init()) return 1;
        rc = APP_load(&app);
        if (rc != ERRM_OK) return rc;
        APP_STARTED_process(app, "consumer", 4);
        ERRM_FInit();
    }
#else
    (void)argc;
    (void)argv;
#endif
    return 0;
}
