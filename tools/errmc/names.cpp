// names.cpp - C identifier checks and the message-name registry.
#include "names.h"

namespace errmc {

namespace {

bool IsStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsPart(char c) {
    return IsStart(c) || (c >= '0' && c <= '9');
}

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() > suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

} // namespace

bool IsCIdentifier(std::string_view name) {
    if (name.empty() || !IsStart(name[0])) return false;
    for (char c : name)
        if (!IsPart(c)) return false;
    return true;
}

std::string ToIdentifier(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        out += (i == 0 ? IsStart(text[i]) : IsPart(text[i])) ? text[i] : '_';
    return out;
}

std::string CPrefix(std::string_view subsystem) {
    return ToIdentifier(subsystem);
}

std::optional<NameClash> NameRegistry::Conflict(const std::string &name) const {
    if (names_.count(name)) return NameClash{name, "the name '" + name + "' is already used"};
    const std::string handle(kHandleSuffix.substr(1)), load(kLoadSuffix.substr(1));
    if (name == handle || name == handle + "_of" || name == load)
        return NameClash{"",
                         "the name '" + name + "' is kept for the subsystem's handle and loader"};
    for (std::string_view suffix : {kProcessSuffix, kTextSuffix}) {
        if (EndsWith(name, suffix)) {
            const std::string base(name.substr(0, name.size() - suffix.size()));
            if (names_.count(base))
                return NameClash{base, "the name '" + name + "' is the wrapper name of message '" +
                                           base + "'"};
        }
        const std::string wrapper = name + std::string(suffix);
        if (names_.count(wrapper))
            return NameClash{wrapper, "the wrapper name '" + wrapper + "' of '" + name +
                                          "' is the name of a message"};
    }
    return std::nullopt;
}

} // namespace errmc
