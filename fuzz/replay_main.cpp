// replay_main.cpp - runs a fuzz target on files instead of under libFuzzer:
// each argument is a file, or a directory whose files are all run. Built when
// the compiler has no libFuzzer (g++) or ERRM_FUZZ_REPLAY is on, so that a
// corpus or a crash file can be replayed in any build, sanitized or not.
#include "fuzz_common.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

int RunFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    std::fprintf(stderr, "running %s (%zu bytes)\n", path.c_str(), data.size());
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    int failures = 0, runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            std::vector<std::filesystem::path> files;
            for (const auto &e : std::filesystem::directory_iterator(arg))
                if (e.is_regular_file()) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto &f : files) {
                failures += RunFile(f);
                ++runs;
            }
        } else {
            failures += RunFile(arg);
            ++runs;
        }
    }
    std::fprintf(stderr, "%d inputs run, %d unreadable\n", runs, failures);
    return failures == 0 ? 0 : 1;
}
