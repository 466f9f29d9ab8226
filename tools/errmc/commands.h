// commands.h - the six commands of a single source or descriptor, written on
// the streams of streams.h.
#ifndef ERRMC_COMMANDS_H
#define ERRMC_COMMANDS_H

#include "streams.h"

#include <string>

namespace errmc {

// Source commands. An empty output path means the default: the current
// directory for Compile, standard output for Header and Decompile.
int CompileCommand(const std::string &source, const std::string &outDir, Streams io);
int CheckCommand(const std::string &source, Streams io);
// The C/C++ header of a source or a descriptor.
int HeaderCommand(const std::string &input, const std::string &outFile, Streams io);

// Descriptor commands. Info and Dump fail when the digest does not match,
// after printing everything.
int InfoCommand(const std::string &descriptor, Streams io);
int DumpCommand(const std::string &descriptor, Streams io);
int DecompileCommand(const std::string &descriptor, const std::string &outFile, Streams io);

} // namespace errmc

#endif
