// fuzz_common.h - what the fuzz targets share: a private working directory,
// report files that go nowhere, silenced standard output, and a platform
// table that never runs a command or reads a device named by fuzzed bytes.
#ifndef ERRM_FUZZ_COMMON_H
#define ERRM_FUZZ_COMMON_H

#include "platform/errm_platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Called once before the first input, by libFuzzer and by the replay main.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size);

namespace errmfuzz {

// A directory of our own for the whole run; ERRM_FUZZ_DIR names it for the
// ${ERRM_FUZZ_DIR} references of the seeds. It is removed at a normal exit
// and kept after a crash, whose reproduction may want its files.
inline const std::string &WorkDir() {
    static const std::string dir = [] {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/errm-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        setenv("ERRM_FUZZ_DIR", pattern.c_str(), 1);
        return pattern;
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        });
        return true;
    }();
    (void)cleanup;
    return dir;
}

// Makes dir/name a link to /dev/null: report and trace files that are
// appended to for millions of runs must not fill the disk.
inline void NullFile(const std::string &name) {
    std::string path = WorkDir() + "/" + name;
    unlink(path.c_str());
    if (symlink("/dev/null", path.c_str()) != 0) std::abort();
}

inline void WriteWorkFile(const std::string &name, const void *data, std::size_t size) {
    std::string path = WorkDir() + "/" + name;
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

// Standard output goes to /dev/null unless ERRM_FUZZ_VERBOSE is set: the
// library writes its lines there, libFuzzer writes its own on stderr.
inline void SilenceStdout() {
    if (std::getenv("ERRM_FUZZ_VERBOSE") != nullptr) return;
    std::fflush(stdout);
    int fd = open("/dev/null", O_WRONLY);
    if (fd < 0 || dup2(fd, 1) < 0) std::abort();
    close(fd);
}

// Follow-up actions come from fuzzed bytes: a command is never run, and
// files under /proc, /sys and /dev do not exist.
inline int NoCommand(const char *) {
    return 0;
}
inline int StatNoDevices(const char *path, struct stat *st) {
    if (std::strncmp(path, "/proc", 5) == 0 || std::strncmp(path, "/sys", 4) == 0 ||
        std::strncmp(path, "/dev", 4) == 0) {
        errno = ENOENT;
        return -1;
    }
    return ::stat(path, st);
}
inline void GuardPlatform() {
    errm_Sys.system = NoCommand;
    errm_Sys.stat = StatNoDevices;
}

// Stops the run with a message on stderr: libFuzzer saves the input.
[[noreturn]] inline void Fail(const char *what, long value) {
    std::fprintf(stderr, "errm fuzz invariant broken: %s (%ld)\n", what, value);
    std::abort();
}

} // namespace errmfuzz

#endif
