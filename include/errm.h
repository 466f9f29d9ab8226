/*
** errm.h - public interface of liberrm, the error-message management library.
**
** A client names a subsystem (loaded from its compiled descriptor file
** errm_desc_<SUBSYSTEM>.bin) and a message number, passes the printf
** arguments of the message, and the library formats, decorates and routes
** the line to the report channels the message names.
**
** Sections: life cycle; settings; descriptors; processing messages;
** direct and user messages; client streams.
**
** All functions must be called from one thread at a time. Results follow one
** rule: setters return 1 (done) or 0 (not done); processing functions return
** 0 or the message's return code on success, and an internal error code
** (1000 to 1101) on failure.
*/
#ifndef ERRM_H
#define ERRM_H

#include <stdarg.h>
#include <stdio.h>

#if defined(ERRM_BUILDING_LIBRARY)
#define ERRM_API __attribute__((visibility("default")))
#else
#define ERRM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------- life cycle */

/* Prepares the library: checks the platform code in ORV_VCO, reads the debug
** settings from KOVA_ERRM_LDBG, resets the report channels, the subsystem table
** and the entry cache, and allocates the return buffer.
** Returns 1 when ready, 0 when ORV_VCO is missing or invalid or memory is short. */
ERRM_API int ERRM_Init(void);

/* Closes the report files the library opened and the trace file, releases the
** loaded descriptors and buffers. Settings survive.
** Returns 1 when a successful ERRM_Init preceded it, 0 otherwise. */
ERRM_API int ERRM_FInit(void);

/* ----------------------------------------------------------------- settings */

/* flag 1: layouts end with a line feed (default); 0: they do not. */
ERRM_API void ERRM_AddNL(int flag);

/* mode 0: standard output and the transcript show only messages that force
** their display; any other value (default 1): no restriction. */
ERRM_API void ERRM_Set_GlobalVerboseMode(int mode);

/* Number of times one message is printed on standard output and the
** transcript before it is replaced by a notice and then silenced (default 3;
** 0 = no limit). */
ERRM_API void ERRM_Set_GlobalNbrMaxOfMessages(int max);

/* mode non-zero: the short "Chi line" of each message replaces the decorated
** line on standard output and in retrieved texts. Default 0. */
ERRM_API void ERRM_Set_NUSKMode(int mode);

/* Names the transcript file. Returns 1 when set; 0 for a null or empty name
** or a name of 1024 characters or more (the previous name stays). */
ERRM_API int ERRM_Set_TranScriptFileName(const char *name);

/* Sets the root to which ".log", ".rep", ".dbg" and ".dbi" are appended to name
** the report files. A null or empty root selects the platform's default "./".
** Returns 1 when set, 0 when too long or when no default is known. */
ERRM_API int ERRM_Set_RootReportFiles(const char *root);

/* Sets the directory where descriptor files are looked for; null or empty
** selects "./". Returns 1 when set, 0 otherwise (as ERRM_Set_RootReportFiles). */
ERRM_API int ERRM_Set_Root_ForMemoryDescriptor(const char *dir);

/* Names the environment variable whose value lists, separated by ':', the
** directories searched for files that messages copy onto the reports.
** Returns 1 when set; 0 for a null name or one of 512 characters or more. */
ERRM_API int ERRM_Set_SearchPath(const char *env_var_name);

/* Enables (flag 1) or silences (any other flag) a report channel by its name:
** STDOUT, PIPE, TRANSCRIPT, DBG_I, DBG_C, REPORT, CHI, LOG, REPORT_F (exact
** case). Returns 1 when the channel exists, 0 otherwise (also before ERRM_Init). */
ERRM_API int ERRM_Authorize_Printing(const char *channel, int flag);

/* Number of ERROR_DELAYED messages processed since the library was loaded. */
ERRM_API unsigned int ERRM_GetNumberOfDelayedErrors(void);

/* Writes the library version 1, 0, 3, 0 into version[0..3]. Returns 1. */
ERRM_API int ERRM_GetVersion(unsigned char version[4]);

/* Copies the library date "2007/01/08" into date (at least 11 bytes). Returns 1. */
ERRM_API int ERRM_GetDate(char *date);

/* -------------------------------------------------------------- descriptors */

/* Loads, maps and verifies errm_desc_<SUBSYSTEM>.bin (the name upper-cased) from
** the descriptor root. On success stores the new subsystem index in *index and
** returns 0; otherwise returns an internal error code (1047 too many loads,
** 1048 bad magic, 1068 memory, 1069 map, 1070 null argument, 1071 open,
** 1075 malformed file, 1077 path too long, 1078 name too long) or 1 when the
** trace file is wanted but cannot be opened. At most 15 loads per process. */
ERRM_API int ERRM_ReadErrorDescriptor(const char *subsystem, int *index);

/* Reads the version bytes and the 12-character stamp of a subsystem's
** descriptor file without loading it. stamp receives 13 bytes (terminated),
** version 4 bytes. Returns 0 or an internal error code (1048, 1069, 1070,
** 1071, 1075, 1077, 1078); the buffers are untouched on failure. */
ERRM_API int ERRM_DisplayInfos(const char *subsystem, char *stamp, char *version);

/* -------------------------------------------------------- processing messages */

/* Processes message `number` of a loaded subsystem: formats it with the
** arguments, decorates it and writes it on the message's report channels, then
** runs its follow-up actions. Returns the message's return code from the
** descriptor, or an internal error code (1024 unknown number, 1050 subsystem
** not loaded, 1058 writing failed, 1064 bad index, 1073 text too long, ...). */
ERRM_API int ERRM_ProcessError(unsigned int subsystem, int number, ...);
ERRM_API int ERRM_ProcessError_variadic(unsigned int subsystem, int number, va_list args);

/* Sets the display counter of one message (0 lets it print again).
** Returns 1 when set, 0 when the subsystem or the message is unknown. */
ERRM_API int ERRM_ResetMessageCounter(unsigned int subsystem, int number, unsigned int value);

/* Formats and decorates a message like ERRM_ProcessError but writes nothing:
** returns the text in a buffer owned by the library, valid until the next
** retrieval or ERRM_FInit. Returns NULL when the message cannot be found or
** formatted, when its return code is 1000 or more, and outside an
** ERRM_Init / ERRM_FInit cycle. */
ERRM_API char *ERRM_Get_ErrorMessage(unsigned int subsystem, int number, ...);
ERRM_API char *ERRM_Get_ErrorMessage_variadic(unsigned int subsystem, int number, va_list args);

/* ------------------------------------------------------ direct and user messages */

/* Writes a trace line that no descriptor holds. severity starts with 'T'
** (TRACE, printed) or 'D' (DEBUG, never printed); reports is a string of
** channel letters (S stdout, P pipe, T transcript, D dbg_i, C dbg_c, R report,
** L log, K chi, F report_f, X none). The line "(severity-level_var-N) text" is
** written only when the environment variable level_var holds a decimal N >= level.
** Returns 0 when handled (printed or not), else 1058, 1073, 1098 or 1099. */
ERRM_API unsigned int ERRM_DirectProcessError(const char *severity, const char *reports,
                                              const char *level_var, int level, const char *format,
                                              ...);
ERRM_API unsigned int ERRM_DirectProcessError_variadic(const char *severity, const char *reports,
                                                       const char *level_var, int level,
                                                       const char *format, va_list args);

/* Writes a message that no descriptor holds on the channels whose bits are set
** in report_mask (bit i = channel id i: 0x1 STDOUT, 0x2 PIPE, 0x4 TRANSCRIPT,
** 0x8 DBG_I, 0x10 DBG_C, 0x20 REPORT, 0x40 CHI, 0x80 LOG, 0x100 REPORT_F).
** In format, the two characters \n and \t and the references &lt; &gt; &#38;
** &apos; &quot; are converted first. force non-NULL prints even when the
** verbose mode is 0. generic is shown on the PIPE lines only.
** Returns the sum of the bits of the channels written, 0 when the format fails. */
ERRM_API unsigned int ERRM_DisplayUserMessage(int number, int severity, const char *subsystem,
                                              const void *force, int report_mask,
                                              const char *generic, const char *format, ...);
ERRM_API unsigned int ERRM_DisplayUserMessage_variadic(int number, int severity,
                                                       const char *subsystem, const void *force,
                                                       int report_mask, const char *generic,
                                                       const char *format, va_list args);

/* ------------------------------------------------------------- client streams */

/* Hands in (Set) or takes back (Reset) the client's stream of the CHI and the
** REPORT_F channels. The library writes on the stream but never closes it.
** A stream stays registered until it is reset, across ERRM_FInit and
** ERRM_Init too (ERRM_Init only switches the channel off until it is set again
** or authorised with ERRM_Authorize_Printing): always reset the channel
** before closing the stream. Call Set after ERRM_Init.
** Return 0 when done, 1 for a null stream or a failure. */
ERRM_API int ERRM_Set_ChiFileHandle(FILE *stream);
ERRM_API int ERRM_Reset_ChiFileHandle(void);
ERRM_API int ERRM_Set_ReportF_FD(FILE *stream);
ERRM_API int ERRM_Reset_ReportF_FD(void);

#ifdef __cplusplus
}
#endif

#endif /* ERRM_H */
