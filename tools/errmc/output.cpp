// output.cpp - generated files written whole or not at all: temporary files,
// checked writes and closes, renames; and the check of standard output.
#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace errmc {

namespace {

// Writes the whole text to fd, retrying short writes and interruptions.
bool WriteAll(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The mode a new file gets: 0666 less the process's umask.
mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A temporary file in the folder of `path`, holding `text`, closed. Returns
// its name, or "" with errno set.
std::string WriteTemporary(const std::string &path, const std::string &text) {
    std::string temp = path + ".errmc-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return "";
    const bool written = ::fchmod(fd, NewFileMode()) == 0 && WriteAll(fd, text);
    const int saved = errno;
    // close() reports what a network or full file system kept back.
    if (::close(fd) != 0 || !written) {
        if (!written) errno = saved;
        const int why = errno;
        std::remove(temp.c_str());
        errno = why;
        return "";
    }
    return temp;
}

} // namespace

bool WriteOutputs(const std::vector<std::pair<std::string, std::string>> &files, Streams io) {
    std::vector<std::pair<std::string, std::string>> temps; // (temporary, target)
    auto removeTemps = [&] {
        for (const auto &[temp, target] : temps)
            std::remove(temp.c_str());
    };
    const std::string *toStdout = nullptr;
    for (const auto &[path, text] : files) {
        if (path.empty()) {
            toStdout = &text;
            continue;
        }
        const std::string temp = WriteTemporary(path, text);
        if (temp.empty()) {
            io.Unusable("cannot write " + path + ": " + std::strerror(errno));
            removeTemps();
            return false;
        }
        temps.emplace_back(temp, path);
    }
    for (std::size_t i = 0; i < temps.size(); ++i) {
        if (std::rename(temps[i].first.c_str(), temps[i].second.c_str()) != 0) {
            io.Unusable("cannot write " + temps[i].second + ": " + std::strerror(errno));
            // The files renamed so far stay: a rename cannot be taken back.
            temps.erase(temps.begin(), temps.begin() + static_cast<std::ptrdiff_t>(i));
            removeTemps();
            return false;
        }
    }
    // Standard output is checked once, when it is closed.
    if (toStdout) io.out << *toStdout;
    return true;
}

bool CloseStandardOutput(Streams io) {
    io.out.flush();
    bool ok = static_cast<bool>(io.out);
    if (&io.out == &std::cout) {
        ok = std::fflush(stdout) == 0 && ok;
        ok = std::fclose(stdout) == 0 && ok;
    }
    if (!ok) io.Unusable(std::string("cannot write the standard output: ") + std::strerror(errno));
    return ok;
}

} // namespace errmc
