// header.h - generates the C/C++ header of a catalogue: one named constant per
// message and two typed wrappers per message around ERRM_ProcessError and
// ERRM_Get_ErrorMessage, whose parameters follow the message's format.
#ifndef ERRMC_HEADER_H
#define ERRMC_HEADER_H

#include "errm_descwriter.h"

#include <string>
#include <vector>

namespace errmc {

// Why no header can be made of `cat`: a name that is not a C identifier or
// that meets another's wrappers, a format a caller cannot fill. A checked
// source has none; a descriptor may.
std::vector<std::string> HeaderProblems(const errmdesc::Catalogue &cat);

// The header text for `cat`, which has no HeaderProblems(). `sourceName` and
// the errmc version are named in the header's top comment.
std::string GenerateHeader(const errmdesc::Catalogue &cat, const std::string &sourceName);

} // namespace errmc

#endif
