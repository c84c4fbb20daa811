#pragma once

#include "test_support.h"

// One entry of Time Machine's log in the default `log show` layout.
std::string LogEntry(const std::string& time, const std::string& message, const std::string& category = "General",
    const std::string& process = "backupd");
// A whole `log show` output: preamble, header, the entries, closing line.
std::string LogOutput(const std::vector<std::string>& entries);
// Filler lines that match no rule, for reaching the 49-line minimum.
std::vector<std::string> Filler(int count, const std::string& time = "2026-03-10 09:00:00");

// A step: its words run in order, then the report shown starts with `shown` (after a "!": lacks the rest). Words:
// Tick() Poll() Today() Yesterday() call the program; name=N sets, name==N checks a variable of monitor_support.cpp's
// table; ran:X checks that the last `log` run had the argument X ("ran:-": no run).
struct Step {
    const char* words;
    const char* shown = "";
};

// A sandboxed monitor with its request flags and limits at their start values: temporary HOME with the settings loaded,
// stub `log` and `ps`, the test clock, and window 1 built in code with status label 8 and report view 1.
class MonitorWorld {
public:
    MonitorWorld();
    ~MonitorWorld();

    // The stub `log` records its arguments, prints `output` and runs the shell command `then`.
    void SetLogOutput(const std::string& output, const std::string& then = "") const;
    std::string LogArguments() const;
    void Run(std::initializer_list<Step> steps) const;
    // A fetch the way the main loop drives it: launch, then read.
    void FetchToday() const { Run({{"Today() open=0 readNow=1 Today()"}}); }
    void FetchYesterday() const { Run({{"Yesterday() yOpen=0 yReadNow=1 Yesterday()"}}); }

    static QString ReportShown(); // of window 1

    Sandbox sandbox;
    TestClock clock;
};
