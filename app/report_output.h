#pragma once

// The outputs of the report command, built from what the last analysis left
// in the monitor's state (gLastProblem, gProblemFolder, the flags) and from
// the report and status line as the main window shows them. Texts given
// here are platform strings; the report's lines end CR LF.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// Exit statuses of the report command besides the report's own 0, 1 and 2.
inline constexpr int kReportUsageError = 64; // a bad command line
inline constexpr int kReportOutputError = 74; // the output could not be written

// The final status: the status line, or the report's own text when the
// log did not come at all and the status line stayed empty.
QString ReportFinalStatus(const QString& statusLine, const QString& report);
// 0 nothing to report (empty status), 2 the log gave nothing to go on
// ("Unable to get ...", "... is not available", or no success line in an
// output of 48 lines or fewer), 1 any other status.
int ReportExitStatus(const QString& status);
// Seconds since 1970 of the last success line in the report, read from the
// line's date and time in the local time zone; none without such a line.
std::optional<std::int64_t> LastSuccessSeconds(const QString& report);
// Report lines that name a problem: the log lines copied into it other
// than success lines, and the offline report's "Backup drive offline".
int ProblemLineCount(const QString& report);

// The report with LF line ends, then the status line.
QByteArray ReportPlainText(const QString& report, const QString& status);
QByteArray ReportJson(const QString& report, const QString& status);
// Prometheus text exposition format; log is "today" or "yesterday" and
// labels every sample. The run time comes from gQzNowHook.
QByteArray ReportPrometheus(const QString& log, const QString& report, const QString& status);
// Monitoring-plugins state: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.
int NagiosState(const QString& report, const QString& status);
// One line "QUILLABY <STATE> - <text> | <perfdata>" and LF.
QByteArray ReportNagios(const QString& report, const QString& status);

// Replaces the file at path with bytes through a temporary file in the same
// folder, so a reader sees the old or the new file, never a part. On
// failure returns false and says why in error.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error);
