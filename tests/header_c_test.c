/*
** header_c_test.c - a C99 client of the shared library: proves that the
** public header is C and that all 29 exported functions link and work from C.
**
** It writes a small descriptor by hand (its digest left zero: a mismatch is
** only reported, the load goes on), runs one cycle through every function,
** and compares what the library wrote on standard output byte for byte.
*/
#include "errm.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);               \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

static const char *const kDescriptor = "errm_desc_CTEST.bin";
static const char *const kOutput = "header_c_test.out";

/* ------------------------------------------------------- descriptor bytes */

static unsigned char *put8(unsigned char *p, unsigned v) {
    *p++ = (unsigned char)(v & 0xFF);
    return p;
}
static unsigned char *put16(unsigned char *p, unsigned v) {
    return put8(put8(p, v), v >> 8);
}
static unsigned char *put32(unsigned char *p, unsigned long v) {
    return put16(put16(p, (unsigned)(v & 0xFFFF)), (unsigned)(v >> 16));
}
static unsigned char *text(unsigned char *p, const char *s) {
    size_t n = strlen(s);
    memcpy(p, s, n);
    return p + n;
}

/* One subsystem "CTEST" with message 1: ERROR, format "c %s", on STDOUT, rc 7. */
static size_t build_descriptor(unsigned char *buf) {
    unsigned char *p = buf + 56;
    unsigned char *body = p;
    unsigned long dirOffset, entryOffset;
    p = put8(p, 5);
    p = text(p, "CTEST");
    p = put8(p, 0);
    dirOffset = (unsigned long)(p - buf);
    entryOffset = dirOffset + 12;
    p = put32(p, 1);
    p = put32(p, entryOffset);
    p = put32(p, 0);
    p = put32(p, 0);          /* spare */
    p = put32(p, 1);          /* name length */
    p = text(p, "E");         /* name */
    p = put32(p, 1);          /* number */
    p = put16(p, 0);          /* identifier length */
    p = put8(p, 1);           /* severity ERROR */
    p = put16(p, 0);          /* environment name length */
    p = put16(p, 4);          /* format length */
    p = text(p, "c %s");      /* format */
    p = put16(p, 0);          /* second text length */
    p = put8(p, 0);           /* spare byte */
    p = put8(p, 0);           /* force */
    p = put8(p, 1);           /* report count */
    p = put8(p, 0);           /* STDOUT */
    p = put16(p, 0);          /* see length */
    p = put8(p, 0);           /* date kind */
    p = put16(p, 0);          /* cat length */
    p = put16(p, 0);          /* command length */
    p = put16(p, 7);          /* return code */
    put32(buf, 0x45783417UL); /* magic */
    put32(buf + 4, 1);        /* entries */
    put32(buf + 8, (unsigned long)(p - body));
    put32(buf + 12, dirOffset);
    put32(buf + 16, 56);
    put32(buf + 20, 0);
    memset(buf + 24, 0, 16);
    buf[40] = 1;
    buf[41] = 0;
    buf[42] = 3;
    buf[43] = 0;
    memcpy(buf + 44, "C-HEADER-TST", 12);
    return (size_t)(p - buf);
}

/* ------------------------------------------------------ the variadic twins */

static int process_v(unsigned ss, int number, ...) {
    va_list args;
    int rc;
    va_start(args, number);
    rc = ERRM_ProcessError_variadic(ss, number, args);
    va_end(args);
    return rc;
}

static char *get_v(unsigned ss, int number, ...) {
    va_list args;
    char *text;
    va_start(args, number);
    text = ERRM_Get_ErrorMessage_variadic(ss, number, args);
    va_end(args);
    return text;
}

static unsigned direct_v(const char *severity, const char *reports, const char *var, int level,
                         const char *format, ...) {
    va_list args;
    unsigned rc;
    va_start(args, format);
    rc = ERRM_DirectProcessError_variadic(severity, reports, var, level, format, args);
    va_end(args);
    return rc;
}

static unsigned user_v(int mask, const char *format, ...) {
    va_list args;
    unsigned rc;
    va_start(args, format);
    rc = ERRM_DisplayUserMessage_variadic(2, 3, "C", NULL, mask, "", format, args);
    va_end(args);
    return rc;
}

/* ---------------------------------------------------------------- the run */

static void run(void) {
    unsigned char buf[256];
    unsigned char version[4];
    char date[12];
    char stamp[13];
    char descVersion[4];
    const char *kept;
    int ss = -1;
    size_t size = build_descriptor(buf);
    FILE *desc = fopen(kDescriptor, "wb");
    FILE *chi = tmpfile();
    FILE *reportF = tmpfile();

    CHECK(desc != NULL && chi != NULL && reportF != NULL);
    if (desc == NULL || chi == NULL || reportF == NULL) return;
    CHECK(fwrite(buf, 1, size, desc) == size);
    fclose(desc);

    CHECK(ERRM_GetVersion(version) == 1);
    CHECK(version[0] == 1 && version[1] == 0 && version[2] == 3 && version[3] == 0);
    CHECK(ERRM_GetDate(date) == 1 && strcmp(date, "2007/01/08") == 0);
    ERRM_AddNL(1);
    ERRM_Set_GlobalVerboseMode(1);
    ERRM_Set_GlobalNbrMaxOfMessages(0);
    ERRM_Set_NUSKMode(0);
    CHECK(ERRM_Set_TranScriptFileName("header_c_test.tra") == 1);
    CHECK(ERRM_Set_RootReportFiles("header_c_test") == 1);
    CHECK(ERRM_Set_Root_ForMemoryDescriptor(NULL) == 1);
    CHECK(ERRM_Set_SearchPath("HEADER_C_TEST_PATH") == 1);
    CHECK(ERRM_Authorize_Printing("STDOUT", 1) == 0); /* no channel before ERRM_Init */

    CHECK(ERRM_Init() == 1);
    CHECK(ERRM_Authorize_Printing("STDOUT", 1) == 1);
    CHECK(ERRM_DisplayInfos("ctest", stamp, descVersion) == 0);
    CHECK(strcmp(stamp, "C-HEADER-TST") == 0 && memcmp(descVersion, "\1\0\3\0", 4) == 0);
    CHECK(ERRM_ReadErrorDescriptor("ctest", &ss) == 0 && ss >= 0);
    CHECK(ERRM_ProcessError((unsigned)ss, 1, "plain") == 7);
    CHECK(process_v((unsigned)ss, 1, "variadic") == 7);
    CHECK(ERRM_ResetMessageCounter((unsigned)ss, 1, 0) == 1);
    CHECK(ERRM_ResetMessageCounter((unsigned)ss + 1, 1, 0) == 0);
    kept = ERRM_Get_ErrorMessage((unsigned)ss, 1, "kept");
    CHECK(kept != NULL && strcmp(kept, "** Error: (CTEST - 1) c kept\n") == 0);
    kept = get_v((unsigned)ss, 1, "again");
    CHECK(kept != NULL && strcmp(kept, "** Error: (CTEST - 1) c again\n") == 0);
    CHECK(ERRM_Get_ErrorMessage((unsigned)ss, 2) == NULL);
    CHECK(ERRM_DirectProcessError("TRACE", "S", "HEADER_C_TEST_UNSET", 0, "%d", 1) == 0);
    CHECK(direct_v("X", "S", "HEADER_C_TEST_UNSET", 0, "x") == 1099);
    CHECK(ERRM_DisplayUserMessage(1, 3, "C", NULL, 0x1, "", "user %d\\n", 1) == 1);
    CHECK(user_v(0x1, "user &lt;%d&gt;\\n", 2) == 1);
    CHECK(ERRM_Set_ChiFileHandle(chi) == 0);
    CHECK(ERRM_Set_ReportF_FD(reportF) == 0);
    CHECK(user_v(0x40 | 0x100, "to streams\n") == 0x140);
    CHECK(ERRM_Reset_ChiFileHandle() == 0);
    CHECK(ERRM_Reset_ReportF_FD() == 0);
    CHECK(ERRM_Reset_ReportF_FD() == 1);
    CHECK(ERRM_GetNumberOfDelayedErrors() == 0);
    CHECK(ERRM_FInit() == 1);
    CHECK(ERRM_FInit() == 0);

    rewind(chi);
    CHECK(fgets((char *)buf, sizeof buf, chi) != NULL && strcmp((char *)buf, "to streams\n") == 0);
    fclose(chi);
    fclose(reportF);
    remove(kDescriptor);
}

int main(void) {
    static const char expected[] = "** Error: (CTEST - 1) c plain\n"
                                   "** Error: (CTEST - 1) c variadic\n"
                                   "user 1\r\n"
                                   "IsXMLEscapeSequence replaced -<-\n"
                                   "IsXMLEscapeSequence replaced ->-\n"
                                   "user <2>\r\n";
    char got[sizeof expected + 64];
    size_t n;
    FILE *in;

    /* Standard output goes to a file, read back at the end. */
    if (freopen(kOutput, "w", stdout) == NULL) return 2;
    run();
    fflush(stdout);
    in = fopen(kOutput, "rb");
    if (in == NULL) return 2;
    n = fread(got, 1, sizeof got, in);
    fclose(in);
    remove(kOutput);
    if (n != sizeof expected - 1 || memcmp(got, expected, n) != 0) {
        fprintf(stderr, "standard output differs (%lu bytes):\n%.*s", (unsigned long)n, (int)n,
                got);
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
