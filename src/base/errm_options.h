// errm_options.h - the run-time options of ERRM_OPTIONS and the process's
// rank in a parallel launch.
//
// ERRM_OPTIONS holds key=value pairs separated by ',' or ':' (a value may be
// quoted with ' or " to hold a separator). ERRM_Init reads it once per cycle
// into errm_Opt; an unknown key or a bad value gives one line on standard
// error naming it and is otherwise ignored. The rank is read once per process
// from the variables that MPI launchers and Slurm set.
#ifndef ERRM_OPTIONS_H
#define ERRM_OPTIONS_H

#include <cstddef>

inline constexpr std::size_t ERRM_OPTION_PATH_CAP = 1024; // json= pattern
inline constexpr std::size_t ERRM_OPTION_RUN_CAP = 128;   // run= identifier

// Where the library's own lines (file manager, platform, trace echo) go.
enum class errm_Diagnostics : int {
    toStdout, // standard output, as always
    toStderr, // standard error
    off,      // nowhere
};

struct errm_RunOptions {
    errm_Diagnostics diagnostics;        // diagnostics=stdout|stderr|off
    int verifyStrict;                    // verify=strict: a digest mismatch refuses the load
    int json;                            // 1: json= given, records are written
    char jsonPath[ERRM_OPTION_PATH_CAP]; // json=<path>, may hold %p %r %h
    char run[ERRM_OPTION_RUN_CAP];       // run=<id>, empty: host-pid-start time
};

extern errm_RunOptions errm_Opt;

// Reads ERRM_OPTIONS into errm_Opt (defaults first). Returns the number of
// pairs refused (each told on standard error).
int errm_ReadOptions();

// Parses one options text into opts; the same rules as errm_ReadOptions.
int errm_ParseOptions(const char *text, errm_RunOptions *opts);

// The process's place in a parallel launch, read from OMPI_COMM_WORLD_RANK /
// _SIZE, PMI_RANK / PMI_SIZE, PMIX_RANK with PMIX_SIZE, SLURM_PROCID /
// SLURM_NTASKS, first match wins. known is 1 only when both numbers were read
// and size is above 1: a single process is no rank of anything.
struct errm_ProcessRank {
    int known;  // 1: rank and size below hold
    long rank;  // 0 .. size-1
    long size;  // number of processes of the launch
    int width;  // digits of size-1: ranks are zero-padded to it
};

// The rank, read at the first call of the process (and again in a child
// after fork, which inherits the same environment).
const errm_ProcessRank &errm_Rank();

// Reads the rank from the environment again (tests).
void errm_RereadRank();

// Writes the zero-padded rank ("03" for rank 3 of 8..100) into out. 1 when a
// rank is known and the text fits, 0 otherwise (out then empty).
int errm_RankText(char *out, std::size_t cap);

#endif
