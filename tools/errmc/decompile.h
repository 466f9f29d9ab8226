// decompile.h - writes a catalogue read from a descriptor back out as a
// catalogue source, and checks that the source compiles to the same messages.
#ifndef ERRMC_DECOMPILE_H
#define ERRMC_DECOMPILE_H

#include "errm_descwriter.h"

#include <string>
#include <vector>

namespace errmc {

struct Decompiled {
    std::string text;                  // the TOML source
    std::vector<std::string> notes;    // renamed messages, dropped spare fields
    std::vector<std::string> problems; // why the source does not give back the same messages
};

// `fromName` is named in the source's top comment.
Decompiled Decompile(const errmdesc::Catalogue &cat, const std::string &fromName);

} // namespace errmc

#endif
