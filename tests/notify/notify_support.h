#pragma once

#include "test_support.h"

// Records every script the program runs and answers with ok/result/error.
struct ScriptRecorder {
    ScriptRecorder();
    std::vector<QString> scripts;
    bool ok = true;
    QString result;
    QString error;
    QzHookGuard<QzScriptFn> guard;
};

// Launch Services answers with this path for "mailto:" while alive.
struct MailtoApp {
    explicit MailtoApp(const QString& path);
    QzHookGuard<QzMailtoAppFn> guard;
};

// The accessibility permission answers `granted` while alive.
struct Accessibility {
    explicit Accessibility(bool granted);
    QzHookGuard<QzAccessibilityFn> guard;
};

// A SystemVersion.plist with this ProductVersion (or these raw bytes) that the system version hook reads while alive.
struct SystemVersion {
    SystemVersion(const Sandbox& sandbox, const std::string& version, bool raw = false);
    QzHookGuard<QzSystemVersionFn> guard;
};

// The notify state and the settings it reads, as a fresh start has them.
void ResetNotifyState();
