// escape.h - texts written back out: as C string literals (in the generated
// header and in dumps) and as TOML basic strings (in decompiled sources).
#ifndef ERRMC_ESCAPE_H
#define ERRMC_ESCAPE_H

#include <string>
#include <string_view>

namespace errmc {

// "..." with C escapes: \" \\ \n \t \r, other control and non-ASCII bytes as
// three-digit octal, and '?' after '?' as \? so that no trigraph forms.
std::string CQuoted(std::string_view text);

// "..." as a TOML basic string. Bytes that are not valid UTF-8 cannot be
// written in TOML: each becomes U+FFFD and *lossy is set.
std::string TomlQuoted(std::string_view text, bool *lossy);

// The text with each byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

} // namespace errmc

#endif
