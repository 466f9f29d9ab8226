// version.h - errmc's version: the project's version (semantic versioning),
// which --version prints and every file errmc generates names. The library's
// own reported version (ERRM_GetVersion) is another number, fixed by its
// contract.
#ifndef ERRMC_VERSION_H
#define ERRMC_VERSION_H

#include <string>

namespace errmc {

inline constexpr const char kVersion[] = ERRMC_VERSION;

// "errmc 1.2.3", as generated files name their writer.
inline std::string Writer() {
    return std::string("errmc ") + kVersion;
}

} // namespace errmc

#endif
