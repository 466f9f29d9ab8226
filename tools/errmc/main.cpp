// main.cpp - errmc, the catalogue compiler: command-line parsing and dispatch.
#include "commands.h"
#include "diff.h"
#include "doc.h"
#include "fortran.h"
#include "json.h"
#include "python.h"
#include "results.h"

#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char **argv) {
    CLI::App app{"errmc - compiles error-message catalogues (TOML) into binary error "
                 "descriptors, generates their C headers, and inspects descriptors.",
                 "errmc"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "errmc " ERRMC_VERSION);

    std::string source, descriptor, output;
    auto sourceArg = [&](CLI::App *cmd) {
        cmd->add_option("source", source, "Catalogue source (TOML)")->required();
    };
    auto descriptorArg = [&](CLI::App *cmd) {
        cmd->add_option("descriptor", descriptor, "Binary error descriptor")->required();
    };

    CLI::App *compile =
        app.add_subcommand("compile", "Compile a source into DIR/errm_desc_<SUBSYSTEM>.bin");
    sourceArg(compile);
    compile->add_option("-o,--output", output, "Output directory (default: .)");

    bool json = false;
    auto jsonFlag = [&](CLI::App *cmd) {
        cmd->add_flag("--json", json, "Write the result as one JSON document");
    };

    CLI::App *check = app.add_subcommand("check", "Check a source without writing anything");
    sourceArg(check);
    jsonFlag(check);

    CLI::App *header = app.add_subcommand(
        "header", "Generate the C/C++ header of message constants and typed wrappers "
                  "(--lang fortran: the Fortran module and its C shims)");
    sourceArg(header);
    header->add_option("-o,--output", output, "Header file to write (default: standard output)");
    std::string lang = "c";
    header
        ->add_option("--lang", lang,
                     "c (the C/C++ header), fortran (module and C shims) or python (module)")
        ->check(CLI::IsMember({"c", "fortran", "python"}));
    std::string shims;
    header->add_option("--shims", shims,
                       "With --lang fortran: the C shims file (default: FILE with .c for .f90)");

    CLI::App *info = app.add_subcommand("info", "Print a descriptor's header and check its digest");
    descriptorArg(info);
    jsonFlag(info);

    CLI::App *dump = app.add_subcommand("dump", "Print every message of a descriptor");
    descriptorArg(dump);
    jsonFlag(dump);

    CLI::App *decompile =
        app.add_subcommand("decompile", "Write a source that compiles back to the descriptor");
    descriptorArg(decompile);
    decompile->add_option("-o,--output", output, "Source file to write (default: standard output)");

    std::vector<std::string> inputs;
    std::string docFormat = "md";
    CLI::App *doc = app.add_subcommand("doc", "Write the message reference of catalogues");
    doc->add_option("input", inputs, "Catalogue sources or descriptors")->required();
    doc->add_option("-o,--output", output, "File to write (default: standard output)");
    doc->add_option("--format", docFormat, "md (default) or html")
        ->check(CLI::IsMember({"md", "html"}));

    std::string oldInput, newInput;
    bool noHeaders = false;
    CLI::App *diff = app.add_subcommand(
        "diff", "List the changes between two catalogues; exit 1 when one breaks callers");
    diff->add_option("old", oldInput, "Old catalogue (source or descriptor)")->required();
    diff->add_option("new", newInput, "New catalogue (source or descriptor)")->required();
    jsonFlag(diff);
    diff->add_flag("--no-headers", noHeaders,
                   "Callers do not use generated headers: a renamed message does not break them");
    CLI::App *explain = app.add_subcommand(
        "explain", "Explain a result code of the library: its text, cause and remedy");
    std::string code;
    bool allCodes = false;
    explain->add_option("code", code, "A code such as 1071, or its name such as ERRM_ERR_OPEN");
    explain->add_flag("--all", allCodes, "Print every code as a Markdown page");
    jsonFlag(explain);
    explain->callback([&] {
        if (code.empty() == !allCodes) throw CLI::ValidationError("give either a code or --all");
    });

    CLI11_PARSE(app, argc, argv);

    const errmc::Streams io{std::cout, std::cerr};
    int status = 1;
    if (compile->parsed()) status = errmc::CompileCommand(source, output, io);
    if (check->parsed())
        status = json ? errmc::CheckJsonCommand(source, io) : errmc::CheckCommand(source, io);
    if (header->parsed())
        status = lang == "fortran"  ? errmc::FortranCommand(source, output, shims, io)
                 : lang == "python" ? errmc::PythonCommand(source, output, io)
                                    : errmc::HeaderCommand(source, output, io);
    if (info->parsed())
        status = json ? errmc::InfoJsonCommand(descriptor, io) : errmc::InfoCommand(descriptor, io);
    if (dump->parsed())
        status = json ? errmc::DumpJsonCommand(descriptor, io) : errmc::DumpCommand(descriptor, io);
    if (doc->parsed()) status = errmc::DocCommand(inputs, output, docFormat, io);
    if (diff->parsed())
        status = errmc::DiffCommand(oldInput, newInput, json, errmc::DiffOptions{!noHeaders}, io);
    if (decompile->parsed()) status = errmc::DecompileCommand(descriptor, output, io);
    if (explain->parsed())
        status = json ? errmc::ExplainJsonCommand(code, allCodes, io)
                      : errmc::ExplainCommand(code, allCodes, io);
    std::cout.flush();
    return status;
}
