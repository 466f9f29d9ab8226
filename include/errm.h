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
** Any thread may call any function (see Threads below). Results follow one
** rule: setters return 1 (done) or 0 (not done); processing functions return
** 0 or the message's return code on success, and an internal error code
** (1000 to 1101) on failure.
*/
/*
** Threads. Every function may be called from any thread at any time. The
** library serialises the calls with one process-wide lock: a call runs whole,
** each line is written whole and once on every channel, and counters,
** repetition limits and the delayed-error count stay exact. A call racing
** ERRM_FInit never crashes: it completes before, or it finds the library not
** initialised. Follow-up commands of a message run under the lock, so other
** threads' calls wait for them. Until the process starts a second thread,
** the lock is not even taken: a single-threaded client does not pay for it.
**
** Returned text. ERRM_Get_ErrorMessage keeps its text in a buffer of the
** calling thread, owned by the library (never free it). The text stays valid
** and unchanged, whatever other threads call, until this thread's next call
** into the library, or until ERRM_Init or ERRM_FInit (from any thread) ends
** the cycle and releases every thread's buffer. A thread's buffer is also
** released when the thread exits.
**
** Not promised:
** - calls from a signal handler: the lock is not async-signal-safe (a handler
**   interrupting its own thread's call would wait for itself forever);
** - calls between fork() and exec() in the child of a multi-threaded parent.
**   The library waits for a call in progress in another thread and gives the
**   child a free lock, so the child does not deadlock on it; but the child
**   shares the parent's report files and unflushed output, and nothing more
**   is promised.
*/
/*
** Run-time options. ERRM_Init reads the environment variable ERRM_OPTIONS:
** key=value pairs separated by ',' or ':' (docs/options.md). An unknown key
** or a bad value gives one line on standard error and is otherwise ignored.
**   diagnostics=stdout|stderr|off  where the library's own lines go (file
**       manager, search path, platform line, trace echo); default stdout.
**       Messages and pipe lines stay on standard output.
**   verify=strict   ERRM_ReadErrorDescriptor refuses with 1049 a descriptor
**       whose digest does not match its bytes (by default it loads, and the
**       mismatch is reported in the trace).
**   json=<path>     a JSON record of each message (%p %r %h in the path).
**   run=<id>        the run's name in the JSON records.
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

/* ------------------------------------------------------------ result codes */

/* Results of the exported functions besides 0 (done) and a message's own
** return code: the library's error codes, 1000 to 1101. "errmc explain CODE"
** and docs/results.md give each one's cause and remedy. With the setting
** KOVA_ERRM_LDBG="/tmp;1:0:0:0:0:1" (a trace directory, then ConsoleOut and
** TraceDLL on), the library also prints, before returning one, a line
** "DLL-E(...)" that names the failing file or argument. */
#define ERRM_OK 0 /* loading and processing succeeded (a message may return its own code) */
#define ERRM_TRACE_UNAVAILABLE 1 /* ERRM_ReadErrorDescriptor: trace wanted, its file not opened */
#define ERRM_ERR_TOO_MANY_ENV     1001 /* environment name table full */
#define ERRM_ERR_BAD_LETTER       1010 /* report letter not in the letter table */
#define ERRM_ERR_NOT_FOUND        1024 /* message number not in the directory */
#define ERRM_ERR_BAD_ENTRY_NUMBER 1025 /* entry record number differs from the directory's */
#define ERRM_ERR_FM_CLOSE         1027 /* file manager: close failed */
#define ERRM_ERR_FM_FULL          1028 /* file manager: no free entry */
#define ERRM_ERR_FM_NOT_OPEN      1029 /* file manager: entry not in use */
#define ERRM_ERR_FM_OPEN          1030 /* file manager: open failed */
#define ERRM_ERR_FM_READ          1031 /* file manager: read error */
#define ERRM_ERR_FM_WRITE         1032 /* file manager: write failed */
#define ERRM_ERR_INTERNAL         1046 /* malformed entry field */
#define ERRM_ERR_TOO_MANY_SS      1047 /* 15 descriptors already loaded */
#define ERRM_ERR_MAGIC            1048 /* descriptor magic number wrong */
#define ERRM_ERR_MD5              1049 /* descriptor digest byte differs */
#define ERRM_ERR_NOT_LOADED       1050 /* subsystem row not loaded */
#define ERRM_ERR_PLATFORM         1053 /* ORV_VCO missing or invalid */
#define ERRM_ERR_SEVERITY         1056 /* severity code outside 1..8 */
#define ERRM_ERR_REPORTS          1058 /* writing or keeping a line failed */
#define ERRM_ERR_SIZE_SMALL       1060 /* user format too long */
#define ERRM_ERR_BAD_INDEX        1064 /* subsystem index outside 0..15 */
#define ERRM_ERR_CAT              1065 /* follow-up cat failed */
#define ERRM_ERR_CLOSE            1066 /* closing a file failed */
#define ERRM_ERR_FILE_NOT_FOUND   1067 /* file to concatenate not found */
#define ERRM_ERR_NO_MEMORY        1068 /* allocation failed */
#define ERRM_ERR_MAP              1069 /* a file could not be read into memory */
#define ERRM_ERR_NULL             1070 /* null pointer argument */
#define ERRM_ERR_OPEN             1071 /* opening a file failed */
#define ERRM_ERR_INDEX_SIZE       1072 /* line too long for its buffer */
#define ERRM_ERR_PRINTF           1073 /* formatted text too long for its buffer */
#define ERRM_ERR_READ_MAPPED      1075 /* descriptor region outside the file */
#define ERRM_ERR_CAT_OVERFLOW     1077 /* path too long */
#define ERRM_ERR_COPY_SIZE        1078 /* name too long */
#define ERRM_ERR_TRACE_NAME       1082 /* no room for the trace file name */
#define ERRM_ERR_OLD_VERSION      1084 /* descriptor version below 1.0.0 */
#define ERRM_ERR_NOT_OPENED       1095 /* user message channel not opened */
#define ERRM_ERR_EMPTY            1098 /* direct message text null or empty */
#define ERRM_ERR_DIRECT_SEVERITY  1099 /* direct message severity not T or D */

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------- life cycle */

/* Prepares the library: reads the run-time options from ERRM_OPTIONS, checks
** the platform code in ORV_VCO, reads the debug settings from KOVA_ERRM_LDBG,
** resets the report channels, the subsystem table and the entry cache, and
** allocates the return buffer.
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

/* Reads into memory and verifies errm_desc_<SUBSYSTEM>.bin (the name upper-cased) from
** the descriptor root. On success stores the new subsystem index in *index and
** returns 0; otherwise returns an internal error code (1047 too many loads,
** 1048 bad magic, 1049 digest mismatch under ERRM_OPTIONS verify=strict,
** 1068 memory, 1069 file not read, 1070 null argument, 1071 open,
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
** returns the text in a buffer of the calling thread, valid until its next
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
