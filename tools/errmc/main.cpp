// main.cpp - errmc, the catalogue compiler: the table of commands (name,
// help, options, action), the command line, and the exit status.
#include "commands.h"
#include "diagnostics.h"
#include "diff.h"
#include "doc.h"
#include "fortran.h"
#include "json.h"
#include "output.h"
#include "python.h"
#include "results.h"
#include "version.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace {

using errmc::Streams;

// Every option of every command; each command reads its own.
struct Options {
    std::string source, descriptor, output, lang = "c", shims, docFormat = "md";
    std::vector<std::string> inputs;
    std::string oldInput, newInput, code;
    bool json = false, noHeaders = false, allCodes = false, werror = false;
};

void Source(CLI::App &c, Options &o) {
    c.add_option("source", o.source, "Catalogue source (TOML); - reads standard input")
        ->required();
}
void Descriptor(CLI::App &c, Options &o) {
    c.add_option("descriptor", o.descriptor, "Binary error descriptor; - reads standard input")
        ->required();
}
void Output(CLI::App &c, Options &o, const char *what) {
    c.add_option("-o,--output", o.output, what);
}
void JsonFlag(CLI::App &c, Options &o) {
    c.add_flag("--json", o.json, "Write the result as one JSON document");
}

struct Command {
    const char *name;
    const char *help;
    void (*options)(CLI::App &, Options &);
    int (*run)(const Options &, Streams);
};

const Command kCommands[] = {
    {"compile", "Compile a source into DIR/errm_desc_<SUBSYSTEM>.bin",
     [](CLI::App &c, Options &o) {
         Source(c, o);
         Output(c, o, "Output directory (default: .)");
     },
     [](const Options &o, Streams io) { return errmc::CompileCommand(o.source, o.output, io); }},
    {"check", "Check a source without writing anything",
     [](CLI::App &c, Options &o) {
         Source(c, o);
         JsonFlag(c, o);
     },
     [](const Options &o, Streams io) {
         return o.json ? errmc::CheckJsonCommand(o.source, io) : errmc::CheckCommand(o.source, io);
     }},
    {"header",
     "Generate the C/C++ header of message constants and typed wrappers "
     "(--lang fortran: the Fortran module and its C shims; --lang python: a typed Python "
     "module) from a source or a descriptor",
     [](CLI::App &c, Options &o) {
         c.add_option("input", o.source, "Catalogue source or descriptor; - reads standard input")
             ->required();
         Output(c, o, "File to write (default: standard output)");
         c.add_option("--lang", o.lang,
                      "c (the C/C++ header), fortran (module and C shims) or python (module)")
             ->check(CLI::IsMember({"c", "fortran", "python"}));
         c.add_option("--shims", o.shims,
                      "With --lang fortran: the C shims file (default: FILE with .c for .f90)");
     },
     [](const Options &o, Streams io) {
         return o.lang == "fortran"  ? errmc::FortranCommand(o.source, o.output, o.shims, io)
                : o.lang == "python" ? errmc::PythonCommand(o.source, o.output, io)
                                     : errmc::HeaderCommand(o.source, o.output, io);
     }},
    {"info", "Print a descriptor's header and check its digest",
     [](CLI::App &c, Options &o) {
         Descriptor(c, o);
         JsonFlag(c, o);
     },
     [](const Options &o, Streams io) {
         return o.json ? errmc::InfoJsonCommand(o.descriptor, io)
                       : errmc::InfoCommand(o.descriptor, io);
     }},
    {"dump", "Print every message of a descriptor",
     [](CLI::App &c, Options &o) {
         Descriptor(c, o);
         JsonFlag(c, o);
     },
     [](const Options &o, Streams io) {
         return o.json ? errmc::DumpJsonCommand(o.descriptor, io)
                       : errmc::DumpCommand(o.descriptor, io);
     }},
    {"decompile", "Write a source that compiles back to the descriptor",
     [](CLI::App &c, Options &o) {
         Descriptor(c, o);
         Output(c, o, "Source file to write (default: standard output)");
     },
     [](const Options &o, Streams io) {
         return errmc::DecompileCommand(o.descriptor, o.output, io);
     }},
    {"doc", "Write the message reference of catalogues",
     [](CLI::App &c, Options &o) {
         c.add_option("input", o.inputs, "Catalogue sources or descriptors; - reads standard input")
             ->required();
         Output(c, o, "File to write (default: standard output)");
         c.add_option("--format", o.docFormat, "md (default) or html")
             ->check(CLI::IsMember({"md", "html"}));
     },
     [](const Options &o, Streams io) {
         return errmc::DocCommand(o.inputs, o.output, o.docFormat, io);
     }},
    {"diff", "List the changes between two catalogues; exit 1 when one breaks callers",
     [](CLI::App &c, Options &o) {
         c.add_option("old", o.oldInput, "Old catalogue (source or descriptor)")->required();
         c.add_option("new", o.newInput, "New catalogue (source or descriptor)")->required();
         JsonFlag(c, o);
         c.add_flag("--no-headers", o.noHeaders,
                    "Callers do not use generated headers: a renamed message does not break them");
     },
     [](const Options &o, Streams io) {
         return errmc::DiffCommand(o.oldInput, o.newInput, o.json,
                                   errmc::DiffOptions{!o.noHeaders}, io);
     }},
    {"explain", "Explain a result code of the library: its text, cause and remedy",
     [](CLI::App &c, Options &o) {
         c.add_option("code", o.code, "A code such as 1071, or its name such as ERRM_ERR_OPEN");
         c.add_flag("--all", o.allCodes, "Print every code as a Markdown page");
         JsonFlag(c, o);
         c.callback([&o] {
             if (o.code.empty() == !o.allCodes)
                 throw CLI::ValidationError("give either a code or --all");
         });
     },
     [](const Options &o, Streams io) {
         return o.json ? errmc::ExplainJsonCommand(o.code, o.allCodes, io)
                       : errmc::ExplainCommand(o.code, o.allCodes, io);
     }},
};

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"errmc - compiles error-message catalogues (TOML) into binary error "
                 "descriptors, generates their C headers, and inspects descriptors.",
                 "errmc"};
    app.require_subcommand(1);
    app.set_version_flag("--version", errmc::Writer());
    Options options;
    app.add_flag("--werror", options.werror, "Make every warning an error");
    // Options of errmc itself may follow the command: errmc check x.toml --werror.
    app.fallthrough();
    std::vector<std::pair<CLI::App *, const Command *>> commands;
    for (const Command &c : kCommands) {
        CLI::App *sub = app.add_subcommand(c.name, c.help);
        c.options(*sub, options);
        commands.emplace_back(sub, &c);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // --help and --version end here too, with status 0; any other
        // command-line error gets errmc's status for it, not CLI11's.
        return app.exit(e) == 0 ? errmc::kExitOk : errmc::kExitUnusable;
    }

    errmc::RunState run;
    run.werror = options.werror;
    run.colour = errmc::ColourOnStderr();
    const Streams io{std::cout, std::cerr, &run};
    int status = errmc::kExitFailed;
    for (const auto &[sub, command] : commands)
        if (sub->parsed()) status = command->run(options, io);
    errmc::CloseStandardOutput(io);
    const std::string summary = run.Summary();
    if (!summary.empty()) std::cerr << summary << '\n';
    return run.Status(status);
}
