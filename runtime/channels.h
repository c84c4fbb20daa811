#pragma once

#include "runtime/shortstring.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

// Numbered channels 1..255 on files (for input or output) and on shell
// commands whose standard output is read as a pipe. Errors go to
// QzFileErrorHandler and QzLastFileError (runtime/state.h).

inline constexpr int kQzMaxFileId = 255;

// Error codes stored in QzLastFileError.
inline constexpr std::int64_t kQzErrNotOpen = -38; // channel not open
inline constexpr std::int64_t kQzErrNotForWriting = -61; // channel not open for writing
inline constexpr std::int64_t kQzErrOpenFailed = 13; // the file could not be opened
inline constexpr std::int64_t kQzErrLocked = 35; // locked by another process
inline constexpr std::int64_t kQzErrCreateFailed = 2; // an output file could not be created

// One channel record; all zero/empty when the channel is closed.
struct QzFileChannel {
    bool open = false;
    std::uint8_t endFlag = 0; // pipes: 255 once a read met the end of the output
    bool isPipe = false;
    int pipeFd = -1; // read end of the command's output; -1 when it could not start
    long long pid = -1; // the shell that runs the command
    std::int64_t position = 0; // files: byte offset of the next read or write
    QString location; // files: the path
    std::int64_t recordLength = 0;
    std::int64_t column = 0; // bytes written since the last line end
    int lockFd = -1; // held open for the channel's life to keep its lock
    char mode = 0; // 'I' input, 'O' output, 0 for pipes
    std::unique_ptr<char[]> buffer; // pipes: bytes read ahead from the command
    std::size_t bufferLen = 0; // bytes in buffer
    std::size_t bufferPos = 0; // next unread byte in buffer
    std::size_t bufferCapacity = 0; // bytes buffer can hold
    std::int64_t startedNs = 0; // pipes: steady-clock time at which the command was started
    std::int64_t deadlineNs = 0; // pipes: steady-clock time at which the command is overdue; 0 = none
    bool timedOut = false; // pipes: the command was killed at its deadline
};

// A command started before the channel that will read it is opened, and
// what it has printed so far, gathered by a thread of its own.
struct QzPrestartedPipe {
    std::string command; // empty when none is waiting
    int pipeFd = -1;
    long long pid = -1; // the shell that runs the command, leader of its process group
    std::int64_t startedNs = 0;
    std::unique_ptr<char[]> gathered;
    std::size_t gatheredLen = 0; // written by the gathering thread only, until it is joined
    int wakeFd[2] = {-1, -1}; // a byte written to wakeFd[1] ends the gathering
    std::thread gatherer;
    ~QzPrestartedPipe();
};

using QzFileErrorHandlerFn = int (*)(std::int64_t fileId, std::int64_t code);
// The default handler: a non-fatal runtime alert naming the error.
int QzFileErrorAlert(std::int64_t fileId, std::int64_t code);

// Starts command through /bin/sh -c and opens its standard output.
void QzOpenPipe(int fileId, const ShortString& command);
// QzOpenPipe for a command line of any length.
void QzOpenCommandPipe(int fileId, std::string_view command);
// Starts command at once, ahead of the channel that will read it, and
// gathers its output meanwhile (up to a bound; beyond it the command waits
// as on a full pipe), so that the command runs while the program starts.
// The next QzOpenPipe of the same command takes it over, its time limit
// counted from this start; one never taken over is killed and waited for
// by QzDiscardPrestartedPipe, which also runs at exit.
void QzPrestartPipe(const ShortString& command);
// QzPrestartPipe for a command line of any length.
void QzPrestartCommandPipe(std::string_view command);
void QzDiscardPrestartedPipe();
// Whether process pid belongs to a command this program started and has
// not closed yet (it is in that command's process group).
bool QzOwnCommand(long long pid);
// kind 0 and 2 both name the file by path (2 was a reference to a URL).
void QzOpenInput(int fileId, int kind, const QString& path, std::int64_t recordLength);
// Creates the file when needed and empties it.
void QzOpenOutput(int fileId, int kind, const QString& path);
// Reads one line into dest (empty first). Pipes: CR or LF ends a line, at
// most 255 bytes a line, the rest left for the next read; the read that
// meets the end of the output sets the end flag. Files: the 254/255 rule.
void QzLineInput(int fileId, ShortString& dest);
// Where in bytes[0, n) the first text a reader looks for may begin: n when
// it is nowhere. It may name a place that holds nothing of interest, never
// one after the first that does.
using QzFirstOfInterestFn = std::size_t (*)(const std::uint8_t* bytes, std::size_t n);
// Passes over the lines a pipe channel has already read ahead, up to the
// first line in which firstOfInterest finds a place; returns how many were
// passed. Each passed line is one QzLineInput would have given, whole
// within what was read ahead, so the lines that follow and the end flag
// are as they would have been; a line that firstOfInterest's place could
// begin, or that the read ahead cuts off, is left for QzLineInput.
std::int64_t QzSkipPipeLines(int fileId, QzFirstOfInterestFn firstOfInterest);
// Gives the command on a pipe channel milliseconds from its start to finish. A
// read that would wait past that kills the command (its whole process
// group) and meets the end of the output instead; closing the channel
// waits for the command no longer than that either.
void QzSetPipeTimeLimit(int fileId, std::int64_t milliseconds);
// Whether the pipe's command was killed at its time limit.
bool QzPipeTimedOut(int fileId);
// -1 (true) at the end or when the channel is closed, else 0.
int QzEof(int fileId);
void QzSetOutput(int channel);
void QzPrint(const ShortString& s);
// Ends the line with one CR.
void QzPrintNewline();
// Closes one channel, or every channel for 0; closing a pipe waits for its
// command to end, or until its time limit and then kills it.
void QzClose(int fileId);
