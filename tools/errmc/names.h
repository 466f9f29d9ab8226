// names.h - C identifiers for messages: the check, the subsystem prefix, and
// the registry that keeps message names from clashing with the generated
// wrapper names of other messages.
#ifndef ERRMC_NAMES_H
#define ERRMC_NAMES_H

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace errmc {

// Suffixes of the two wrappers that the header generates for each message.
inline constexpr std::string_view kProcessSuffix = "_process";
inline constexpr std::string_view kTextSuffix = "_text";

// Names the header gives the subsystem itself: <prefix>_handle (the handle
// type, with <prefix>_handle_of) and <prefix>_load. No message may take them.
inline constexpr std::string_view kHandleSuffix = "_handle";
inline constexpr std::string_view kLoadSuffix = "_load";

bool IsCIdentifier(std::string_view name);

// The subsystem name made an identifier prefix: every character that cannot
// stand at its place in a C identifier becomes '_'.
std::string CPrefix(std::string_view subsystem);

// Turns any text into a C identifier by the same rule; empty text gives "".
std::string ToIdentifier(std::string_view text);

// Why a name cannot be added, and the name already taken that it meets.
struct NameClash {
    std::string with;
    std::string message;
};

// Message names already taken, with their wrappers <name>_process and
// <name>_text.
class NameRegistry {
  public:
    // The clash when `name` is taken, or it or its wrappers collide with
    // another message's; nothing when it can be added.
    std::optional<NameClash> Conflict(const std::string &name) const;
    void Add(const std::string &name) { names_.insert(name); }

  private:
    std::set<std::string> names_;
};

} // namespace errmc

#endif
