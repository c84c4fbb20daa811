#include "monitor/report.h"
#include "monitor/fetch.h"
#include "monitor/state.h"

#include "runtime/channels.h"
#include "runtime/windows.h"

#include <cctype>

bool Contains(const ShortString& line, const ShortString& pattern)
{
    return QzInstr(1, line, pattern) != 0;
}

bool IsIgnoredLine(const ShortString& line)
{
    for (const ShortString& pattern : kIgnoredLines)
        if (Contains(line, pattern))
            return true;
    return false;
}

ShortString LogShowCommand(const ShortString& head, const ShortString& rest)
{
    ShortString command = head;
    QzStrAppend(command, QzStringOf(1, 34));
    QzStrAppend(command, "com.apple.TimeMachine");
    QzStrAppend(command, QzStringOf(1, 34));
    QzStrAppend(command, QzStringOf(1, 39));
    QzStrAppend(command, rest);
    return command;
}

void SetStatusLine(const ShortString& text)
{
    const QString platformText = QzStrToCF(text);
    QzTextField(8, QzParamOmitted, &platformText, 0, {});
}

void AppendReport(std::initializer_list<ShortString> pieces)
{
    for (const ShortString& piece : pieces)
        QzContainerAppendStr(gReport, piece);
}

void ShowReport()
{
    QzSetCurrentWindow(1);
    QzTextViewSetText(1, QzContainerToCF(gReport));
}

void AppendSpotlightNote()
{
    AppendReport({kCrLf, kCrLf, "     ************ NOTE ************", kCrLf,
        "Your Time Machine Backup drive may be conflicting with Spotlight Search indexing.", kCrLf, kCrLf,
        "Click on the Help Button and find \xE2\x80\x9CImporter Start failed\xE2\x80\x9D, for help on this topic.",
        kCrLf});
}

void KillStaleLogCommand()
{
    QzClose(1);
    QzOpenPipe(1, "ps -ax");
    bool found = false;
    for (;;) {
        QzLineInput(1, gLogLine);
        if (QzInstr(1, gLogLine, "log show --") != 0) {
            found = true;
            break;
        }
        if (QzEof(1) != 0)
            break;
    }
    if (found) {
        QzClose(1);
        // "ps -ax" right-aligns the process number, so a line may begin
        // with blanks; only a number is ever handed to the shell.
        int start = 1;
        while (start <= gLogLine.len && gLogLine.at(start) == ' ')
            ++start;
        const ShortString rest = QzMid(gLogLine, start, ShortString::kMax);
        const int blank = QzInstr(1, rest, " ");
        const ShortString process = blank > 1 ? QzLeft(rest, blank - 1) : ShortString();
        bool numeric = !process.empty();
        for (unsigned char c : process.view())
            numeric = numeric && std::isdigit(c);
        if (numeric)
            QzOpenPipe(1, "kill " + process);
    }
    QzClose(1);
    gLogLine = ShortString();
}
