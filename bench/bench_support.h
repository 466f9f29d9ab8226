// bench_support.h - what the benchmarks share: a scratch directory, report
// files that go to /dev/null, standard output sent to /dev/null for a scope,
// message builders, and starting the library on a directory.
//
// Benchmarks build their descriptors with the descriptor writer at start-up;
// no descriptor file is kept in the tree.
#ifndef ERRM_BENCH_SUPPORT_H
#define ERRM_BENCH_SUPPORT_H

#include "errm.h"
#include "errm_descwriter.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace errmbench {

// Channel ids and severities as descriptor entries store them.
enum : std::uint8_t { kStdout = 0, kReport = 5, kLog = 7 };
enum : std::uint8_t { kError = 1 };

// A fresh directory under $TMPDIR (or /tmp), removed at scope exit.
class ScratchDir {
  public:
    ScratchDir() {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                              "/errm-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(2);
        }
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Makes dir/name a link to /dev/null, so that whatever opens it by name
// writes through stdio as to a file, but nothing fills the disk.
inline std::string NullFile(const ScratchDir &dir, const std::string &name) {
    std::string path = dir.file(name);
    std::error_code ec;
    std::filesystem::remove(path, ec);
    std::filesystem::create_symlink("/dev/null", path, ec);
    if (ec) {
        std::fprintf(stderr, "cannot link %s to /dev/null: %s\n", path.c_str(),
                     ec.message().c_str());
        std::exit(2);
    }
    return path;
}

inline std::string ReadWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Sends file descriptor 1 to /dev/null while in scope (the library's standard
// output lines and its flushes then cost what they cost on a quiet terminal).
class StdoutToNull {
  public:
    StdoutToNull() {
        std::fflush(stdout);
        saved_ = dup(1);
        std::FILE *null = std::fopen("/dev/null", "w");
        if (saved_ < 0 || null == nullptr || dup2(fileno(null), 1) < 0) {
            std::perror("redirecting stdout");
            std::exit(2);
        }
        std::fclose(null);
    }
    ~StdoutToNull() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }
    StdoutToNull(const StdoutToNull &) = delete;
    StdoutToNull &operator=(const StdoutToNull &) = delete;

  private:
    int saved_ = -1;
};

inline errmdesc::Message Msg(std::int32_t number, std::string format,
                             std::vector<std::uint8_t> reports) {
    errmdesc::Message m;
    m.number = number;
    m.name = std::to_string(number);
    m.name.insert(m.name.begin(), 'M');
    m.severity = kError;
    m.format = std::move(format);
    m.reports = std::move(reports);
    return m;
}

inline errmdesc::Catalogue Cat(std::string subsystem, std::vector<errmdesc::Message> messages) {
    errmdesc::Catalogue c;
    c.subsystem = std::move(subsystem);
    c.version = {1, 0, 3, 0};
    c.stamp = "202601010000";
    c.messages = std::move(messages);
    return c;
}

inline void WriteDescriptor(const errmdesc::Catalogue &cat, const std::string &dir) {
    std::string error;
    if (errmdesc::WriteFile(cat, dir, &error).empty()) {
        std::fprintf(stderr, "cannot write the %s descriptor: %s\n", cat.subsystem.c_str(),
                     error.c_str());
        std::exit(2);
    }
}

// Starts a library cycle whose descriptors are read from dir and whose
// report files are <reportRoot>.log, .rep, ...
inline void StartLibrary(const std::string &dir, const std::string &reportRoot) {
    setenv("ORV_VCO", "ixl", 1);
    unsetenv("KOVA_ERRM_LDBG");
    if (ERRM_Set_Root_ForMemoryDescriptor((dir + "/").c_str()) != 1 ||
        ERRM_Set_RootReportFiles(reportRoot.c_str()) != 1 || ERRM_Init() != 1) {
        std::fprintf(stderr, "cannot start the library on %s\n", dir.c_str());
        std::exit(2);
    }
}

inline int LoadSubsystem(const char *name) {
    int index = -1;
    int rc = ERRM_ReadErrorDescriptor(name, &index);
    if (rc != 0) {
        std::fprintf(stderr, "cannot load %s: %d\n", name, rc);
        std::exit(2);
    }
    return index;
}

} // namespace errmbench

#endif
