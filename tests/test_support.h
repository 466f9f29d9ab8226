// test_support.h - helpers shared by the test suites: temporary
// directories, environment guards, file reading, and capture of standard
// output (through its file descriptor, so that every writer is caught).
#ifndef ERRM_TEST_SUPPORT_H
#define ERRM_TEST_SUPPORT_H

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace errmtest {

// A fresh directory under $ERRM_TEST_TMP (or the system temporary directory),
// removed when the object goes out of scope.
class TempDir {
  public:
    TempDir() {
        const char *base = std::getenv("ERRM_TEST_TMP");
        std::filesystem::path root =
            base != nullptr ? base : std::filesystem::temp_directory_path();
        std::filesystem::create_directories(root);
        std::string pattern = (root / "errm-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets (or unsets, with nullopt) an environment variable for a scope.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
        if (const char *old = std::getenv(name_.c_str())) old_ = old;
        if (value)
            setenv(name_.c_str(), value->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_.c_str(), old_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFile(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

inline bool FileExists(const std::string &path) {
    return std::filesystem::exists(path);
}

// Captures everything written on file descriptor fd (1 unless told: 2 for
// standard error) between construction and Text() (or destruction), stdio
// buffers included.
class StdoutCapture {
  public:
    explicit StdoutCapture(int fd = 1) : fd_(fd) {
        std::fflush(nullptr);
        saved_ = dup(fd_);
        std::FILE *tmp = std::tmpfile();
        if (tmp == nullptr || saved_ < 0) std::abort();
        file_ = tmp;
        dup2(fileno(file_), fd_);
    }
    ~StdoutCapture() { restore(); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Stops capturing and returns what was written.
    std::string Text() {
        restore();
        return text_;
    }

  private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(nullptr);
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
        std::fseek(file_, 0, SEEK_SET);
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0)
            text_.append(buf, n);
        std::fclose(file_);
        file_ = nullptr;
    }

    int fd_;
    int saved_ = -1;
    std::FILE *file_ = nullptr;
    std::string text_;
};

// Number of non-overlapping occurrences of needle in hay.
inline int Count(const std::string &hay, const std::string &needle) {
    int n = 0;
    for (std::size_t at = hay.find(needle); at != std::string::npos;
         at = hay.find(needle, at + needle.size()))
        ++n;
    return n;
}

// Runs f in a forked child (a fresh copy of the library's process-wide
// state, with its own load limit) and returns its exit status: f's result,
// or 128 + the signal that ended it.
template <class F> int RunInChild(F &&f) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int rc = f();
        std::fflush(nullptr);
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace errmtest

#endif
