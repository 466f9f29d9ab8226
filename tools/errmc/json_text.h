// json_text.h - how errmc writes JSON: ordered objects (keys in insertion
// order), two-space indent, bytes that are not UTF-8 replaced by U+FFFD.
#ifndef ERRMC_JSON_TEXT_H
#define ERRMC_JSON_TEXT_H

#include "diagnostics.h"

#include <nlohmann/json.hpp>

#include <string>

namespace errmc {

using Json = nlohmann::ordered_json;

// The document followed by a newline.
inline std::string JsonText(const Json &doc) {
    return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}

// {"file", "line", "column", "severity", "message"}; line and column are
// null for a problem of the file as a whole.
inline Json DiagnosticJson(const std::string &file, Diagnostic::Kind kind, Position at,
                           const std::string &message) {
    Json d = Json::object();
    d["file"] = file;
    d["line"] = at.line > 0 ? Json(at.line) : Json(nullptr);
    d["column"] = at.line > 0 ? Json(at.column) : Json(nullptr);
    d["severity"] = kind == Diagnostic::Kind::Error     ? "error"
                    : kind == Diagnostic::Kind::Warning ? "warning"
                                                        : "note";
    d["message"] = message;
    return d;
}

} // namespace errmc

#endif
