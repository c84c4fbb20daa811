#pragma once

// quillaby-report history [--since YYYY-MM-DD] [--format text|json|csv]
//   the checks and backup sessions of the history, newest first: a
//   readable table, JSON, or CSV (RFC 4180: one header, a "record" column
//   saying check or session, CR LF line ends).
// quillaby-report timeline [--days N] --output FILE.svg|FILE.png
//   the timeline of the last N days (1 by default) as the window draws it,
//   as SVG or PNG; no display needed.
//
// Exit status: 0 done, 1 the history could not be read, 64 a bad command
// line, 74 the output could not be written.

// Whether argv[1] names one of these subcommands.
bool IsHistoryCommand(int argc, char** argv);
// Runs it, from the start of the program; returns the exit status.
int RunHistoryCommand(int argc, char** argv);
