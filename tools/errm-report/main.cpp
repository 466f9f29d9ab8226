// main.cpp - errm-report, over the record files of one run: command-line
// parsing and dispatch. Exit status: 0, 1 for a problem of the input, 2 for
// a usage error.
#include "report.h"

#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char **argv) {
    CLI::App app{"errm-report - summarises, merges and shows the JSON records that the ranks "
                 "of one run wrote (one record file per process).",
                 "errm-report"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "errm-report " ERRM_REPORT_VERSION);

    std::vector<std::string> files;
    auto filesArg = [&](CLI::App *cmd) {
        cmd->add_option("files", files, "Record files (one per process)")->required();
    };
    bool json = false;
    CLI::App *summary = app.add_subcommand(
        "summary", "One row per message id: severity, count, first and last time, ranks, text");
    filesArg(summary);
    summary->add_flag("--json", json, "Write the summary as one JSON document");

    CLI::App *merge = app.add_subcommand(
        "merge", "Every record as its decorated line, in time order, prefixed with its rank");
    filesArg(merge);

    std::string output, doc;
    CLI::App *html = app.add_subcommand(
        "html", "A self-contained page: summary table, timeline and ranks that raised errors");
    filesArg(html);
    html->add_option("-o,--output", output, "The page to write")->required();
    html->add_option("--doc", doc,
                     "The message reference written by errmc doc --format html, as the page "
                     "links to it (ids become links to their entries)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return 2;
    }
    if (summary->parsed()) return errm_report::SummaryCommand(files, json, std::cout);
    if (merge->parsed()) return errm_report::MergeCommand(files, std::cout);
    return errm_report::HtmlCommand(files, output, doc);
}
