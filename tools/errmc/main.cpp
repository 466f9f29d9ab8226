// main.cpp - errmc, the catalogue compiler: command-line parsing and dispatch.
#include "commands.h"
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

    CLI::App *check = app.add_subcommand("check", "Check a source without writing anything");
    sourceArg(check);

    CLI::App *header = app.add_subcommand(
        "header", "Generate the C/C++ header of message constants and typed wrappers");
    sourceArg(header);
    header->add_option("-o,--output", output, "Header file to write (default: standard output)");

    CLI::App *info = app.add_subcommand("info", "Print a descriptor's header and check its digest");
    descriptorArg(info);

    CLI::App *dump = app.add_subcommand("dump", "Print every message of a descriptor");
    descriptorArg(dump);

    CLI::App *decompile =
        app.add_subcommand("decompile", "Write a source that compiles back to the descriptor");
    descriptorArg(decompile);
    decompile->add_option("-o,--output", output, "Source file to write (default: standard output)");

    CLI::App *explain = app.add_subcommand(
        "explain", "Explain a result code of the library: its text, cause and remedy");
    std::string code;
    bool allCodes = false;
    explain->add_option("code", code, "A code such as 1071, or its name such as ERRM_ERR_OPEN");
    explain->add_flag("--all", allCodes, "Print every code as a Markdown page");
    explain->callback([&] {
        if (code.empty() == !allCodes) throw CLI::ValidationError("give either a code or --all");
    });

    CLI11_PARSE(app, argc, argv);

    const errmc::Streams io{std::cout, std::cerr};
    int status = 1;
    if (compile->parsed()) status = errmc::CompileCommand(source, output, io);
    if (check->parsed()) status = errmc::CheckCommand(source, io);
    if (header->parsed()) status = errmc::HeaderCommand(source, output, io);
    if (info->parsed()) status = errmc::InfoCommand(descriptor, io);
    if (dump->parsed()) status = errmc::DumpCommand(descriptor, io);
    if (decompile->parsed()) status = errmc::DecompileCommand(descriptor, output, io);
    if (explain->parsed()) status = errmc::ExplainCommand(code, allCodes, io);
    std::cout.flush();
    return status;
}
