// fortran.h - the Fortran 2003 module of a catalogue and the C shims it binds
// to: Fortran cannot call the library's variadic functions, so each message
// gets one fixed-parameter C function per use (process, text).
#ifndef ERRMC_FORTRAN_H
#define ERRMC_FORTRAN_H

#include "streams.h"
#include "errm_descwriter.h"

#include <string>
#include <vector>

namespace errmc {

struct FortranModule {
    std::string moduleName;           // "<subsystem>_messages", lower case
    std::string module;               // the .f90 text
    std::string shims;                // the .c text
    std::vector<std::string> problems; // why no module can be made (names Fortran cannot hold)
};

// `sourceName` is named in both files' top comments.
FortranModule GenerateFortran(const errmdesc::Catalogue &cat, const std::string &sourceName);

// errmc header --lang fortran: writes the module to moduleFile and the shims
// to shimsFile (default: moduleFile with its extension replaced by .c).
int FortranCommand(const std::string &source, const std::string &moduleFile,
                   const std::string &shimsFile, Streams io);

} // namespace errmc

#endif
