// commands.h - errmc's commands, each returning the process exit status
// (0 success, 1 failure) and writing on the given streams.
#ifndef ERRMC_COMMANDS_H
#define ERRMC_COMMANDS_H

#include <ostream>
#include <string>

namespace errmc {

struct Streams {
    std::ostream &out; // results
    std::ostream &err; // diagnostics
};

// Source commands. An empty output path means the default: the current
// directory for Compile, standard output for Header and Decompile.
int CompileCommand(const std::string &source, const std::string &outDir, Streams io);
int CheckCommand(const std::string &source, Streams io);
int HeaderCommand(const std::string &source, const std::string &outFile, Streams io);

// Descriptor commands. Info and Dump fail when the digest does not match,
// after printing everything.
int InfoCommand(const std::string &descriptor, Streams io);
int DumpCommand(const std::string &descriptor, Streams io);
int DecompileCommand(const std::string &descriptor, const std::string &outFile, Streams io);

} // namespace errmc

#endif
