#pragma once

// Shared set-up of the benchmarks; each bench/*.cpp is one executable, so
// this header carries its definitions inline.

#include "app/mainwindow.h"
#include "runtime/application.h"
#include "runtime/hooks.h"
#include "runtime/windows.h"
#include "settings/settings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <string>

inline QString BenchFolder()
{
    static QTemporaryDir dir;
    return dir.path();
}

// Writes `lines` lines made by make(i), each ended by LF, once per name.
inline QString BenchFile(const QString& name, std::int64_t lines, std::string (*make)(std::int64_t))
{
    const QString path = BenchFolder() + QLatin1Char('/') + name;
    if (QFile::exists(path))
        return path;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        std::abort();
    std::string chunk;
    for (std::int64_t i = 0; i < lines; ++i) {
        chunk += make(i);
        chunk += '\n';
        if (chunk.size() > (1 << 20)) {
            f.write(chunk.data(), static_cast<qint64>(chunk.size()));
            chunk.clear();
        }
    }
    f.write(chunk.data(), static_cast<qint64>(chunk.size()));
    return path;
}

inline double TimeShell(const std::string& command)
{
    QElapsedTimer t;
    t.start();
    if (std::system(command.c_str()) == -1)
        return -1;
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

inline int SilentAlert(const QzAlertRequest&)
{
    return 0;
}

inline void BenchWorld(int& argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const QString home = BenchFolder() + QStringLiteral("/home");
    QDir().mkpath(home);
    setenv("HOME", home.toUtf8().constData(), 1);
    setenv("XDG_DATA_HOME", (home + QStringLiteral("/.local/share")).toUtf8().constData(), 1);
    QzApplicationInit(argc, argv);
    gQzAlertHook = SilentAlert;
    ShowMainWindow(false);
    BuildReportArea();
    LoadSettings();
}

// The message of entry i of a busy day's log: mostly harmless chatter, a
// backup session's lines, one copy error in 25 and, once in 10,000 entries
// (or in 30 of 100 with manySuccesses), a success line.
inline std::string BusyDayMessage(std::int64_t i, bool manySuccesses = false)
{
    const int k = static_cast<int>(i % 100);
    if (manySuccesses ? k < 30 : i % 10000 == 99)
        return "Completed backup: 2026-03-10-101512";
    if (k < 60)
        return "Mountpoint '/Volumes/Backup' is still valid";
    if (k < 65)
        return "com.apple.backupd.xpc: connection invalid";
    if (k < 70)
        return "Created Time Machine local snapshot with name 'com.apple.TimeMachine.2026-03-10-101512.local' on disk "
               "'/'";
    if (k < 75)
        return "Saved event cache at /Volumes/Backup/2026-03-10-101512.inprogress/.eventdb";
    if (k < 80)
        return "Starting automatic backup";
    if (k < 85)
        return "Backing up to /dev/disk3s2: /Volumes/Backup/Backups.backupdb";
    if (k < 96)
        return "Found 313 files (16.1 MB) needing backup";
    return "Error: (-36) SrcErr:NO Copying /Users/sam/Documents/file" + std::to_string(i) + ".txt";
}
