// header.cpp - header generation: comment-safe texts, the parameter list of a
// format, the subsystem's handle type and loader, then the header itself.
#include "header.h"

#include "escape.h"
#include "fields.h"
#include "names.h"
#include "printf_format.h"
#include "version.h"

#include <limits>
#include <sstream>

namespace errmc {

namespace {

// A text shown inside a /* */ comment.
std::string CommentText(const std::string &text) {
    std::string quoted = CQuoted(text);
    std::string out;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        out += quoted[i];
        if (quoted[i] == '*' && i + 1 < quoted.size() && quoted[i + 1] == '/') out += '\\';
        if (quoted[i] == '/' && i + 1 < quoted.size() && quoted[i + 1] == '*') out += '\\';
    }
    return out;
}

// An int32 as a C constant expression of type int.
std::string IntLiteral(std::int32_t n) {
    if (n == std::numeric_limits<std::int32_t>::min()) return "(-2147483647 - 1)";
    return std::to_string(n);
}

struct Signature {
    std::string parameters; // ", const char *a1, int a2"
    std::string arguments;  // ", a1, a2"
    std::string braced;     // ", {a1}, {a2}"
};

Signature SignatureOf(const std::vector<FormatArgument> &args) {
    Signature s;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string name = "a" + std::to_string(i + 1);
        const std::string &type = args[i].ctype;
        s.parameters += ", " + type + (type.back() == '*' ? "" : " ") + name;
        s.arguments += ", " + name;
        s.braced += ", {" + name + "}";
    }
    return s;
}

// The handle type of the subsystem, its loader and the conversion from a
// plain index. Distinct struct types keep one subsystem's handle out of
// another's wrappers, in C as in C++.
void WriteHandle(std::ostringstream &h, const std::string &prefix, const std::string &subsystem) {
    const std::string handle = prefix + std::string(kHandleSuffix);
    h << "\n/* A loaded subsystem " << CommentText(subsystem)
      << ": only its own wrappers take it. */\n"
      << "typedef struct " << handle
      << " {\n    unsigned int index; /* as ERRM_ReadErrorDescriptor "
      << "gives it */\n} " << handle << ";\n\n"
      << "/* Loads the subsystem's descriptor into *handle (untouched on failure); returns\n"
      << " * the result of ERRM_ReadErrorDescriptor: 0 when loaded. */\n"
      << "static inline int " << prefix << kLoadSuffix << '(' << handle << " *handle)\n{\n"
      << "    int index = 0;\n"
      << "    int rc = ERRM_ReadErrorDescriptor(" << CQuoted(subsystem) << ", &index);\n"
      << "    if (rc == 0) handle->index = (unsigned int)index;\n"
      << "    return rc;\n}\n\n"
      << "/* The handle of an index that ERRM_ReadErrorDescriptor gave for this subsystem,\n"
      << " * for code that loads it by hand. */\n"
      << "static inline " << handle << ' ' << handle << "_of(unsigned int index)\n{\n"
      << "    " << handle << " handle;\n    handle.index = index;\n    return handle;\n}\n";
}

// In C++ (GCC and Clang), each wrapper that takes arguments is shadowed by a
// macro that passes them in braces: list-initialisation refuses a conversion
// that can lose the value (a floating value for an integer, an integer that
// does not fit unless it is a constant that does), and the pragma makes that
// an error for non-constants too, where GCC would only warn. Clang's remark
// on braces around a scalar is silenced there: the braces are the point.
const char *const kExactCall =
    "\n#if defined(__cplusplus) && (defined(__GNUC__) || defined(__clang__))\n"
    "#ifndef ERRM_MESSAGES_EXACT_CALL\n"
    "#ifdef __clang__\n"
    "#define ERRM_MESSAGES_BRACES_ _Pragma(\"clang diagnostic ignored "
    "\\\"-Wbraced-scalar-init\\\"\")\n"
    "#else\n"
    "#define ERRM_MESSAGES_BRACES_\n"
    "#endif\n"
    "#define ERRM_MESSAGES_EXACT_CALL(type, fn, ...)                                         \\\n"
    "    (__extension__({                                                                   \\\n"
    "        _Pragma(\"GCC diagnostic push\")                                               \\\n"
    "        _Pragma(\"GCC diagnostic error \\\"-Wnarrowing\\\"\")                            \\\n"
    "        ERRM_MESSAGES_BRACES_                                                          \\\n"
    "        type errm_messages_result_ = (fn)(__VA_ARGS__);                                \\\n"
    "        _Pragma(\"GCC diagnostic pop\")                                                \\\n"
    "        errm_messages_result_;                                                         \\\n"
    "    }))\n"
    "#endif\n";

bool Uses(const std::vector<std::vector<FormatArgument>> &all, std::string_view type) {
    for (const auto &args : all)
        for (const FormatArgument &a : args)
            if (a.ctype.find(type) != std::string::npos) return true;
    return false;
}

} // namespace

std::vector<std::string> HeaderProblems(const errmdesc::Catalogue &cat) {
    std::vector<std::string> out;
    NameRegistry names;
    for (const errmdesc::Message &m : cat.messages) {
        const std::string what = "message " + std::to_string(m.number) + " " + CQuoted(m.name);
        if (!IsCIdentifier(m.name)) {
            out.push_back(what + ": the name is not a C identifier");
            continue;
        }
        if (const std::optional<NameClash> clash = names.Conflict(m.name))
            out.push_back(what + ": " + clash->message);
        else
            names.Add(m.name);
        if (!ParsePrintfFormat(m.format).problems.empty())
            out.push_back(what + ": the format is not one errmc check accepts");
    }
    return out;
}

std::string GenerateHeader(const errmdesc::Catalogue &cat, const std::string &sourceName) {
    const std::string prefix = CPrefix(cat.subsystem);
    // Each message's parameters, in the order its wrapper passes them (position
    // order for a format that positions its arguments), and whether it reads errno.
    std::vector<std::vector<FormatArgument>> args;
    std::vector<bool> readsErrno;
    for (const errmdesc::Message &m : cat.messages) {
        ParsedFormat parsed = ParsePrintfFormat(m.format);
        args.push_back(std::move(parsed.arguments));
        readsErrno.push_back(parsed.readsErrno);
    }

    std::ostringstream h;
    h << "/* Message numbers and typed message wrappers of subsystem " << CommentText(cat.subsystem)
      << ".\n"
      << " * Generated by " << Writer() << " from " << CommentText(sourceName)
      << ": do not edit.\n"
      << " *\n"
      << " * <name>_process(subsystem, ...) processes the message like ERRM_ProcessError,\n"
      << " * <name>_text(subsystem, ...) returns its text like ERRM_Get_ErrorMessage; their\n"
      << " * parameters after the subsystem's handle are those the message's format takes.\n"
      << " * " << prefix << kLoadSuffix << "(&handle) loads the subsystem; " << prefix
      << kHandleSuffix << "_of(index) wraps an index\n"
      << " * from ERRM_ReadErrorDescriptor.\n"
      << " *\n"
      << " * In C++ (GCC, Clang) a call whose argument would lose its value in the\n"
      << " * conversion to its parameter does not compile. In C arguments convert as in\n"
      << " * any call: compile with -Wconversion -Wsign-conversion to see lossy ones. */\n";
    const std::string guard = "ERRM_MESSAGES_" + prefix + "_H";
    h << "#ifndef " << guard << "\n#define " << guard << "\n\n#include <errm.h>\n";
    if (Uses(args, "size_t") || Uses(args, "ptrdiff_t")) h << "#include <stddef.h>\n";
    if (Uses(args, "intmax_t")) h << "#include <stdint.h>\n";
    if (Uses(args, "wint_t") || Uses(args, "wchar_t")) h << "#include <wchar.h>\n";

    if (!cat.messages.empty()) {
        h << "\nenum {\n";
        for (std::size_t i = 0; i < cat.messages.size(); ++i) {
            const errmdesc::Message &m = cat.messages[i];
            h << "    " << prefix << '_' << m.name << " = " << IntLiteral(m.number)
              << (i + 1 < cat.messages.size() ? "," : "") << '\n';
        }
        h << "};\n";
    }
    WriteHandle(h, prefix, cat.subsystem);
    const std::string handle = prefix + std::string(kHandleSuffix);

    for (std::size_t i = 0; i < cat.messages.size(); ++i) {
        const errmdesc::Message &m = cat.messages[i];
        const std::string constant = prefix + '_' + m.name;
        const Signature sig = SignatureOf(args[i]);
        h << "\n/* " << constant << ": " << Keyword(errmdesc::kSeverityNames, m.severity) << ' '
          << CommentText(m.format) << (readsErrno[i] ? "; %m prints strerror(errno)" : "")
          << " */\n";
        h << "static inline int " << constant << kProcessSuffix << '(' << handle << " subsystem"
          << sig.parameters << ")\n{\n    return ERRM_ProcessError(subsystem.index, " << constant
          << sig.arguments << ");\n}\n";
        h << "static inline char *" << constant << kTextSuffix << '(' << handle << " subsystem"
          << sig.parameters << ")\n{\n    return ERRM_Get_ErrorMessage(subsystem.index, "
          << constant << sig.arguments << ");\n}\n";
    }

    bool anyArguments = false;
    for (const auto &a : args)
        anyArguments = anyArguments || !a.empty();
    if (anyArguments) {
        h << kExactCall;
        for (std::size_t i = 0; i < cat.messages.size(); ++i) {
            if (args[i].empty()) continue;
            const std::string constant = prefix + '_' + cat.messages[i].name;
            const Signature sig = SignatureOf(args[i]);
            const std::string list = "(s" + sig.arguments + ")";
            h << "#define " << constant << kProcessSuffix << list
              << " ERRM_MESSAGES_EXACT_CALL(int, " << constant << kProcessSuffix << ", s"
              << sig.braced << ")\n";
            h << "#define " << constant << kTextSuffix << list
              << " ERRM_MESSAGES_EXACT_CALL(char *, " << constant << kTextSuffix << ", s"
              << sig.braced << ")\n";
        }
        h << "#endif\n";
    }
    h << "\n#endif /* " << guard << " */\n";
    return h.str();
}

} // namespace errmc
