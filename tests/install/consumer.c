/* A client of the installed library: prints the library's version and date. */
#include <errm.h>
#include <stdio.h>

int main(void) {
    unsigned char v[4];
    char date[12];
    ERRM_GetVersion(v);
    ERRM_GetDate(date);
    printf("%d.%d.%d.%d %s\n", v[0], v[1], v[2], v[3], date);
    return 0;
}
