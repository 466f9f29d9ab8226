// streams.cpp - the run's state and the printing of problems.
#include "streams.h"

#include "diagnostics.h"

namespace errmc {

// ------------------------------------------------------------ the run's state

std::string RunState::Summary() const {
    if (errors == 0 && warnings == 0) return "";
    auto count = [](std::size_t n, const char *what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    if (warnings == 0) return count(errors, "error");
    if (errors == 0) return count(warnings, "warning");
    return count(errors, "error") + ", " + count(warnings, "warning");
}

int RunState::Status(int status) const {
    if (fileUnusable) return kExitUnusable;
    // An error printed fails the run, whatever the command made of it.
    if (status == kExitOk && errors > 0) return kExitFailed;
    return status;
}

namespace {

RunState g_untracked; // the state of streams made without one (tests)

RunState &StateOf(const Streams &io) {
    return io.run ? *io.run : g_untracked;
}

} // namespace

void Streams::Error(std::string_view message) const {
    err << "errmc: error: " << message << '\n';
    ++StateOf(*this).errors;
}

void Streams::Warning(std::string_view message) const {
    if (Werror()) {
        Error(std::string(message) + " [--werror]");
        return;
    }
    err << "errmc: warning: " << message << '\n';
    ++StateOf(*this).warnings;
}

void Streams::Note(std::string_view message) const {
    err << "errmc: note: " << message << '\n';
}

void Streams::Unusable(std::string_view message) const {
    Error(message);
    MarkUnusable();
}

void Streams::MarkUnusable() const {
    StateOf(*this).fileUnusable = true;
}

void Streams::Print(const Diagnostics &diags, const std::string &file,
                    std::string_view text) const {
    RunState &state = StateOf(*this);
    diags.Print(err, file, text, state.colour);
    state.errors += diags.ErrorCount();
    state.warnings += diags.WarningCount();
    state.fileUnusable = state.fileUnusable || diags.FileUnreadable();
}

} // namespace errmc
