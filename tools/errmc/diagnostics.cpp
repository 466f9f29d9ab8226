// diagnostics.cpp - collects and prints errmc's diagnostics in source order.
#include "diagnostics.h"

#include <algorithm>

namespace errmc {

void Diagnostics::Error(Position at, std::string message) {
    all_.push_back({Diagnostic::Kind::Error, at, std::move(message)});
    ++errors_;
}

void Diagnostics::Warning(Position at, std::string message) {
    all_.push_back({Diagnostic::Kind::Warning, at, std::move(message)});
}

void Diagnostics::Note(Position at, std::string message) {
    all_.push_back({Diagnostic::Kind::Note, at, std::move(message)});
}

void Diagnostics::Print(std::ostream &out, const std::string &file) const {
    std::vector<const Diagnostic *> sorted;
    for (const Diagnostic &d : all_)
        sorted.push_back(&d);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Diagnostic *a, const Diagnostic *b) {
        if (a->at.line != b->at.line) return a->at.line < b->at.line;
        return a->at.column < b->at.column;
    });
    for (const Diagnostic *d : sorted) {
        out << file;
        if (d->at.line > 0) out << ':' << d->at.line << ':' << d->at.column;
        switch (d->kind) {
        case Diagnostic::Kind::Error: out << ": error: "; break;
        case Diagnostic::Kind::Warning: out << ": warning: "; break;
        case Diagnostic::Kind::Note: out << ": note: "; break;
        }
        out << d->message << '\n';
    }
}

} // namespace errmc
