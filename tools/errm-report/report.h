// report.h - the commands of errm-report: summary, merge and html, each over
// the record files of one run. Each returns the exit status: 0, or 1 when a
// file could not be read or held a complete line that is not a record.
#ifndef ERRM_REPORT_REPORT_H
#define ERRM_REPORT_REPORT_H

#include "records.h"

#include <ostream>
#include <string>
#include <vector>

namespace errm_report {

int SummaryCommand(const std::vector<std::string> &files, bool json, std::ostream &out);
int MergeCommand(const std::vector<std::string> &files, std::ostream &out);
// docLink: the catalogue reference that `errmc doc --format html` wrote, as
// the page should link to it; empty for no links.
int HtmlCommand(const std::vector<std::string> &files, const std::string &output,
                const std::string &docLink);

// A record as the library decorates it on its report lines, prefixed with
// "[rank] " (or "[pid N] " without a rank); one or more lines, each ended.
std::string DecoratedLine(const Record &r);

// The anchor of a message in the reference `errmc doc` writes.
std::string DocAnchor(std::string_view subsystem, std::int64_t number);

} // namespace errm_report

#endif
