// header.h - generates the C/C++ header of a catalogue: one named constant per
// message and two typed wrappers per message around ERRM_ProcessError and
// ERRM_Get_ErrorMessage, whose parameters follow the message's format.
#ifndef ERRMC_HEADER_H
#define ERRMC_HEADER_H

#include "errm_descwriter.h"

#include <string>

namespace errmc {

// The header text for `cat`, whose formats must parse (a checked source's
// do). `sourceName` is named in the header's top comment.
std::string GenerateHeader(const errmdesc::Catalogue &cat, const std::string &sourceName);

} // namespace errmc

#endif
