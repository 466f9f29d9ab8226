// api_support.h - helpers of the API suites: what the process holds open
// (descriptors and mappings, from /proc/self), output with its variable parts
// masked, a guard for the swappable system calls, and expected internal
// error lines.
#ifndef ERRM_API_SUPPORT_H
#define ERRM_API_SUPPORT_H

#include "platform/errm_platform.h"
#include "sys_guard.h"

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace errmtest {

// Number of file descriptors the process holds open.
inline int OpenFdCount() {
    int n = 0;
    for (const auto &e : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)e;
        ++n;
    }
    return n - 1; // the iterator's own descriptor
}

// Number of descriptors of the process open on the file at path.
inline int FdsOpenOn(const std::string &path) {
    std::error_code ec;
    const std::filesystem::path want = std::filesystem::weakly_canonical(path, ec);
    int n = 0;
    for (const auto &e : std::filesystem::directory_iterator("/proc/self/fd")) {
        char target[PATH_MAX];
        ssize_t len = readlink(e.path().c_str(), target, sizeof target - 1);
        if (len <= 0) continue;
        target[len] = '\0';
        if (want == std::filesystem::path(target)) ++n;
    }
    return n;
}

// Number of mappings of the process that show the file at path.
inline int MappingsOf(const std::string &path) {
    std::error_code ec;
    const std::string want = std::filesystem::weakly_canonical(path, ec).string();
    std::ifstream maps("/proc/self/maps");
    int n = 0;
    for (std::string line; std::getline(maps, line);) {
        const std::size_t at = line.find('/');
        if (at != std::string::npos && line.substr(at) == want) ++n;
    }
    return n;
}

// Output with its variable parts masked: the source line of internal error
// reports ("/L=123" becomes "/L=#") and the date of report headers
// ("START report: Thu Jan  8 10:20:30 2007 \n" becomes "START report: <date>\n").
inline std::string Masked(const std::string &text) {
    static const std::string line = "/L=", header = "START report: ";
    // "Thu Jan  8 10:20:30 2007" and the blank and line feed after it.
    auto isDate = [](const std::string &t, std::size_t at) {
        if (t.size() < at + 26) return false;
        return t[at + 3] == ' ' && t[at + 7] == ' ' && t[at + 10] == ' ' && t[at + 13] == ':' &&
               t[at + 16] == ':' && t[at + 19] == ' ' && t[at + 24] == ' ' && t[at + 25] == '\n';
    };
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text.compare(at, line.size(), line) == 0) {
            std::size_t end = at + line.size();
            while (end < text.size() && text[end] >= '0' && text[end] <= '9')
                ++end;
            if (end > at + line.size()) {
                out += "/L=#";
                at = end;
                continue;
            }
        }
        if (text.compare(at, header.size(), header) == 0 && isDate(text, at + header.size())) {
            out += header + "<date>\n";
            at += header.size() + 26;
            continue;
        }
        out += text[at++];
    }
    return out;
}

// The line an internal error report puts on standard output with the trace
// open and echoed: prefix "DLL-E(%3d): " and the catalogue text.
inline std::string ErrLine(int number, const std::string &text) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "DLL-E(%3d): ", number);
    return prefix + text;
}

// Where each source folder's reports say they come from.
inline const std::string kCore = " @ F=src/err_mgt/errm_shared/L=#\n";
inline const std::string kDescriptor = " @ F=src/descriptor/L=#\n";
inline const std::string kReports = " @ F=src/reports/L=#\n";

// Everything written on a stream so far, read back through its descriptor.
inline std::string StreamText(std::FILE *stream) {
    std::fflush(stream);
    std::string out;
    char buf[4096];
    off_t at = 0;
    for (;;) {
        ssize_t n = pread(fileno(stream), buf, sizeof buf, at);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
        at += n;
    }
    return out;
}

} // namespace errmtest

#endif
