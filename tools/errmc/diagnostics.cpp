// diagnostics.cpp - collects errmc's diagnostics and prints them in source
// order, with the source line and a caret; the "did you mean" suggestion and
// the colour decision.
#include "diagnostics.h"

#include "escape.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace errmc {

namespace {

// ANSI colours, as compilers use them.
constexpr const char *kBold = "\033[1m";
constexpr const char *kRed = "\033[1;31m";
constexpr const char *kMagenta = "\033[1;35m";
constexpr const char *kCyan = "\033[1;36m";
constexpr const char *kGreen = "\033[1;32m";
constexpr const char *kReset = "\033[0m";

// The lines of a text, found once: line `n` (from 1) without its line end;
// empty past the end.
class LineIndex {
  public:
    explicit LineIndex(std::string_view text) : text_(text) {
        starts_.push_back(0);
        for (std::size_t i = text.find('\n'); i != std::string_view::npos;
             i = text.find('\n', i + 1))
            starts_.push_back(i + 1);
    }
    std::string_view Line(std::uint32_t n) const {
        if (n == 0 || n > starts_.size()) return {};
        const std::size_t begin = starts_[n - 1];
        const std::size_t end = n < starts_.size() ? starts_[n] - 1 : text_.size();
        std::string_view line = text_.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    }

  private:
    std::string_view text_;
    std::vector<std::size_t> starts_;
};

// Whether a line can be shown under a diagnostic: valid UTF-8 without control
// characters besides tabs (a binary file's "line" is not shown).
bool Printable(std::string_view line) {
    for (char c : line) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F) return false;
    }
    return ValidUtf8(line) == line;
}

// The blanks that put a caret under character `column` (from 1) of `line`:
// tabs stay tabs so that the caret lines up, and a UTF-8 sequence counts once.
std::string CaretIndent(std::string_view line, std::uint32_t column) {
    std::string out;
    std::uint32_t character = 1;
    for (std::size_t i = 0; i < line.size() && character < column; ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if ((c & 0xC0) == 0x80) continue;
        out += c == '\t' ? '\t' : ' ';
        ++character;
    }
    return out;
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            const bool same = std::toupper(static_cast<unsigned char>(a[i - 1])) ==
                              std::toupper(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

} // namespace

void Diagnostics::Error(Position at, std::string message) {
    all_.push_back({Diagnostic::Kind::Error, at, std::move(message)});
    ++errors_;
}

void Diagnostics::Warning(Position at, std::string message) {
    if (werror_) {
        Error(at, std::move(message) + " [--werror]");
        return;
    }
    all_.push_back({Diagnostic::Kind::Warning, at, std::move(message)});
    ++warnings_;
}

void Diagnostics::Note(Position at, std::string message) {
    all_.push_back({Diagnostic::Kind::Note, at, std::move(message)});
}

void Diagnostics::Unreadable(std::string message) {
    Error({}, std::move(message));
    unreadable_ = true;
}

std::vector<const Diagnostic *> Diagnostics::Sorted() const {
    std::vector<const Diagnostic *> sorted;
    sorted.reserve(all_.size());
    for (const Diagnostic &d : all_)
        sorted.push_back(&d);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Diagnostic *a, const Diagnostic *b) {
        if (a->at.line != b->at.line) return a->at.line < b->at.line;
        return a->at.column < b->at.column;
    });
    return sorted;
}

void Diagnostics::Print(std::ostream &stream, const std::string &file, std::string_view source,
                        bool colour) const {
    // Written in one piece: standard error is unbuffered, and a write per
    // piece would cost a system call each.
    std::ostringstream out;
    const LineIndex lines(source);
    auto paint = [&](const char *code) { return colour ? code : ""; };
    for (const Diagnostic *d : Sorted()) {
        out << paint(kBold) << file;
        if (d->at.line > 0) out << ':' << d->at.line << ':' << d->at.column;
        out << ':' << paint(kReset) << ' ';
        switch (d->kind) {
        case Diagnostic::Kind::Error: out << paint(kRed) << "error:"; break;
        case Diagnostic::Kind::Warning: out << paint(kMagenta) << "warning:"; break;
        case Diagnostic::Kind::Note: out << paint(kCyan) << "note:"; break;
        }
        out << paint(kReset) << ' ' << d->message << '\n';
        if (source.empty() || d->at.line == 0) continue;
        const std::string_view line = lines.Line(d->at.line);
        if (!Printable(line)) continue;
        const std::string number = std::to_string(d->at.line);
        const std::string gutter(number.size() < 5 ? 5 : number.size(), ' ');
        out << gutter.substr(number.size()) << number << " | " << line << '\n'
            << gutter << " | " << CaretIndent(line, d->at.column) << paint(kGreen) << '^'
            << paint(kReset) << '\n';
    }
    stream << out.str();
}

std::string DidYouMean(std::string_view word, const std::vector<std::string_view> &candidates) {
    std::string_view best;
    std::size_t bestDistance = std::string_view::npos;
    for (std::string_view c : candidates) {
        const std::size_t d = EditDistance(word, c);
        if (d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    // A slip: a changed case, up to a third of the letters (at least one),
    // or the start of a name cut short.
    const std::size_t allowed = std::max<std::size_t>(1, (word.size() + 1) / 3);
    if (best.empty() || bestDistance > allowed) {
        best = {};
        for (std::string_view c : candidates)
            if (word.size() >= 3 && c.size() > word.size() &&
                EditDistance(word, c.substr(0, word.size())) == 0) {
                best = c;
                break;
            }
        if (best.empty()) return "";
    }
    return "; did you mean '" + std::string(best) + "'?";
}

bool ColourOnStderr() {
    const char *noColour = std::getenv("NO_COLOR");
    if (noColour && *noColour) return false;
    return isatty(STDERR_FILENO) == 1;
}

} // namespace errmc
