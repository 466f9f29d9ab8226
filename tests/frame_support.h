// frame_support.h - helpers of the library-frame suites: guards for the
// platform table and the working directory, fake system calls with fixed
// results, masking of the source line in internal error reports, and a
// minimal descriptor file built byte by byte.
#ifndef ERRM_FRAME_SUPPORT_H
#define ERRM_FRAME_SUPPORT_H

#include "platform/errm_platform.h"
#include "sys_guard.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <md5.h>
#include <string>
#include <vector>

namespace errmtest {

// Makes dir the working directory for a scope.
class ScopedCwd {
  public:
    explicit ScopedCwd(const std::string &dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCwd() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
    }
    ScopedCwd(const ScopedCwd &) = delete;
    ScopedCwd &operator=(const ScopedCwd &) = delete;

  private:
    std::filesystem::path old_;
};

// 2007-01-08 09:05:07 UTC, a Monday.
inline constexpr std::time_t kFixedTime = 1168247107;
inline constexpr pid_t kFixedPid = 4242;

inline std::time_t FixedTime(std::time_t *t) {
    if (t != nullptr) *t = kFixedTime;
    return kFixedTime;
}
inline pid_t FixedPid() {
    return kFixedPid;
}
inline struct tm *FailingLocaltime(const std::time_t *, struct tm *) {
    return nullptr;
}
inline int FailingFclose(std::FILE *) {
    return EOF;
} // the stream stays open
inline std::FILE *FailingFopen(const char *, const char *) {
    errno = EACCES;
    return nullptr;
}

// Replaces the digits after every "/L=" by '#', so that internal error
// reports compare without their source line numbers.
inline std::string MaskLines(const std::string &text) {
    std::string out;
    std::size_t at = 0;
    for (std::size_t found; (found = text.find("/L=", at)) != std::string::npos;) {
        std::size_t end = found + 3;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
            ++end;
        out += text.substr(at, found + 3 - at);
        if (end > found + 3) out += '#';
        at = end;
    }
    return out + text.substr(at);
}

// True when text has the shape of pattern, character by character: 'A' an
// upper-case letter, 'a' a lower-case letter, '9' a digit, '#' a digit or a
// blank, any other character itself.
inline bool HasShape(const std::string &text, const std::string &pattern) {
    if (text.size() != pattern.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        bool ok = false;
        switch (pattern[i]) {
        case 'A': ok = std::isupper(c) != 0; break;
        case 'a': ok = std::islower(c) != 0; break;
        case '9': ok = std::isdigit(c) != 0; break;
        case '#': ok = std::isdigit(c) != 0 || c == ' '; break;
        default: ok = text[i] == pattern[i]; break;
        }
        if (!ok) return false;
    }
    return true;
}

// A valid descriptor with no message: the header, the subsystem name, an
// empty display name, an empty directory and the digest of the names.
inline void WriteEmptyDescriptor(const std::string &path, const std::string &subsystem) {
    std::vector<unsigned char> bytes(56, 0);
    auto put32 = [&bytes](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
    };
    bytes.push_back(static_cast<unsigned char>(subsystem.size()));
    bytes.insert(bytes.end(), subsystem.begin(), subsystem.end());
    bytes.push_back(0);
    const auto size = static_cast<std::uint32_t>(bytes.size());
    put32(0, 0x45783417u); // magic
    put32(4, 0);           // entry count
    put32(8, size - 56);   // checksum length
    put32(12, size);       // directory offset
    put32(16, 56);         // checksum start
    bytes[40] = 1;         // version 1.0.0
    MD5_CTX md5;
    MD5Init(&md5);
    MD5Update(&md5, bytes.data() + 56, size - 56);
    MD5Final(bytes.data() + 24, &md5);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

} // namespace errmtest

#endif
