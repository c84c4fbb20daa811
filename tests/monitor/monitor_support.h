#pragma once

#include "test_support.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

// One entry of Time Machine's log in the default `log show` layout.
std::string LogEntry(const std::string& time, const std::string& message, const std::string& category = "General",
    const std::string& process = "backupd");
// A whole `log show` output: preamble, header, the entries, closing line.
std::string LogOutput(const std::vector<std::string>& entries);

// A sandboxed world for the monitor: temporary HOME with the settings file
// loaded, stub `log` and `ps` first on PATH, the test clock, and window 1
// built in code with status label 8 and report text view 1.
class MonitorWorld {
public:
    MonitorWorld();

    // The stub `log` prints this output whatever it is asked, and records
    // its arguments; `ps` prints a list without any log command.
    void SetLogOutput(const std::string& output) const;
    // The arguments of the last `log` run, one per line.
    std::string LogArguments() const;

    // Today's fetch the way the main loop drives it: launch, then read.
    void FetchToday() const;
    void FetchYesterday() const;

    static std::string Report();
    static QString ReportShown();
    static QString Status();

    Sandbox sandbox;
    TestClock clock;
};

// Filler lines that match no rule, for reaching the 49-line minimum.
std::vector<std::string> Filler(int count, const std::string& time = "2026-03-10 09:00:00");
