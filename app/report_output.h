#pragma once

// The outputs of the report command, built from what the last analysis left
// in the monitor's state (gLastProblem, gProblemFolder, the flags) and from
// the report and status line as the main window shows them. The report is
// the analysis's own bytes (lines end CR LF); other texts are platform
// strings.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

struct QzAlertRequest;
// The report command's alert presenter: nobody can answer an alert there,
// so its texts go to standard error and the first button is taken.
int AlertToStandardError(const QzAlertRequest& request);

// Exit statuses of the report command besides the report's own 0, 1 and 2.
inline constexpr int kReportUsageError = 64; // a bad command line
inline constexpr int kReportOutputError = 74; // the output could not be written

// The final status: the status line, or the report's own text when the
// log did not come at all and the status line stayed empty.
QString ReportFinalStatus(const QString& statusLine, std::string_view report);
// The verdict of every format: ReportExitStatus, but 2 when the settings
// file could not be read, and at least 1 when a save of it failed.
int ReportCode(const QString& status);
// 0 nothing to report (empty status), 2 the log gave nothing to go on
// ("Unable to get ...", "... is not available", or no success line in an
// output of 48 lines or fewer), 1 any other status.
int ReportExitStatus(const QString& status);
// Seconds since 1970 of the last success line in the report, read from the
// line's date and time in the local time zone; none without such a line.
std::optional<std::int64_t> LastSuccessSeconds(std::string_view report);
// Report lines that name a problem: the log lines copied into it other
// than success lines, and the offline report's "Backup drive offline".
int ProblemLineCount(std::string_view report);

// Receives the output in pieces; false when a piece could not be written.
using ReportSink = std::function<bool(std::string_view bytes)>;
// Writes a whole output to the sink it is given; false when that failed.
using ReportWriter = std::function<bool(const ReportSink&)>;

// A remote Mac (gRemoteHost) is named in every format: a heading line
// "=== DEST ===" before the text, a "host" key in the JSON object, which is
// then the one element of an array, a "host" label on every Prometheus
// sample, and "DEST: " before the monitoring-plugins text.

// The report, then after a blank line the status line (when there is one),
// in UTF-8, their CR LF line ends made LF; the line ends that close the
// report go, so the output ends with one. The report goes out a piece at a
// time, so that a flood of lines is never held twice. False when the sink
// failed.
bool WriteReportPlainText(std::string_view report, const QString& status, const ReportSink& sink);
// The findings as one JSON object, its texts with CR LF made LF as above
// (the report whole): lastSuccessText is the last success line alone,
// lastSuccessBlock the block the notification email ends with.
bool WriteReportJson(std::string_view report, const QString& status, const ReportSink& sink);
// Prometheus text exposition format; log is "today" or "yesterday" and
// labels every sample. The run time comes from gQzNowHook.
QByteArray ReportPrometheus(const QString& log, std::string_view report, const QString& status);
// Monitoring-plugins state: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN; as
// ReportCode, unreadable settings are UNKNOWN and a failed save at least a
// WARNING.
int NagiosState(std::string_view report, const QString& status);
// One line "QUILLABY <STATE> - <text> | <perfdata>" and LF.
QByteArray ReportNagios(std::string_view report, const QString& status);

// Writes what produce writes to its sink to the file at path. A regular
// file, or a path where none exists yet, is replaced through a temporary
// file in the same folder, so a reader sees the old or the new file, never
// a part, and a write that fails (a full disk) leaves the old file whole. A
// character device or a FIFO is written into, as a shell redirection
// would; a folder, or anything else, is refused. On failure returns false
// and says why in error.
bool WriteOutputFile(const QString& path, const ReportWriter& produce, QString* error);
