// test_descriptors.h - fixtures for tests that load descriptors: message
// builders, writing a catalogue into a directory, and starting the library
// on it.
#ifndef ERRM_TEST_DESCRIPTORS_H
#define ERRM_TEST_DESCRIPTORS_H

#include "errm.h"
#include "errm_descwriter.h"
#include "test_support.h"

#include <cstdint>
#include <string>
#include <vector>

namespace errmtest {

// Channel ids as entries store them.
enum : std::uint8_t {
    kStdout = 0,
    kPipe = 1,
    kTranscript = 2,
    kDbgI = 3,
    kDbgC = 4,
    kReport = 5,
    kChi = 6,
    kLog = 7,
    kReportF = 8,
};

enum : std::uint8_t {
    kError = 1,
    kErrorDelayed = 2,
    kWarning = 3,
    kFatal = 4,
    kTrace = 5,
    kDebug = 6,
    kNote = 7,
    kDisplay = 8,
};

inline errmdesc::Message Msg(std::int32_t number, std::uint8_t severity, std::string format,
                             std::vector<std::uint8_t> reports = {kStdout}) {
    errmdesc::Message m;
    m.number = number;
    m.name = "M" + std::to_string(number < 0 ? -number : number);
    m.severity = severity;
    m.format = std::move(format);
    m.reports = std::move(reports);
    return m;
}

inline errmdesc::Catalogue Cat(std::string subsystem, std::vector<errmdesc::Message> messages,
                               std::string display = "") {
    errmdesc::Catalogue c;
    c.subsystem = std::move(subsystem);
    c.displayName = std::move(display);
    c.version = {1, 0, 3, 0};
    c.stamp = "202612071200";
    c.messages = std::move(messages);
    return c;
}

// Writes the catalogue's descriptor into dir; returns its path.
inline std::string WriteDescriptor(const errmdesc::Catalogue &cat, const std::string &dir) {
    std::string error;
    std::string path = errmdesc::WriteFile(cat, dir, &error);
    if (path.empty()) std::abort();
    return path;
}

inline std::string WriteBytes(const std::vector<std::uint8_t> &bytes, const std::string &path) {
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

// A library started for a test: ORV_VCO set, the descriptor and report
// roots in a temporary directory. With consoleTrace, the trace file is
// written in that directory and internal errors are echoed on stdout.
class Library {
  public:
    explicit Library(bool consoleTrace = false)
        : platform_("ORV_VCO", "ixl"),
          debug_("KOVA_ERRM_LDBG", consoleTrace
                                       ? std::optional<std::string>(dir_.path() + ";T:X:X:X:X:T")
                                       : std::nullopt) {
        ERRM_Set_Root_ForMemoryDescriptor((dir_.path() + "/").c_str());
        ERRM_Set_RootReportFiles(dir_.file("run").c_str());
        ERRM_Set_TranScriptFileName(dir_.file("run.tra").c_str());
        initialised_ = ERRM_Init() == 1;
    }
    bool initialised() const { return initialised_; }
    const TempDir &dir() const { return dir_; }
    std::string file(const std::string &name) const { return dir_.file(name); }

    // Writes and loads a catalogue; returns the subsystem index or -1.
    int Load(const errmdesc::Catalogue &cat) {
        WriteDescriptor(cat, dir_.path());
        int index = -1;
        return ERRM_ReadErrorDescriptor(cat.subsystem.c_str(), &index) == 0 ? index : -1;
    }
    std::string Report(const std::string &ext) const { return ReadFile(dir_.file("run" + ext)); }

  private:
    TempDir dir_;
    ScopedEnv platform_;
    ScopedEnv debug_;
    bool initialised_ = false;
};

// Text of a report file after its "START report: <date> \n" header line.
inline std::string AfterHeader(const std::string &text) {
    if (text.rfind("START report: ", 0) != 0) return "<no header>" + text;
    std::size_t eol = text.find('\n');
    return eol == std::string::npos ? std::string() : text.substr(eol + 1);
}

} // namespace errmtest

#endif
