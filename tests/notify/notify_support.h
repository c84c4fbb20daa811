#pragma once

#include "test_support.h"

#include <QString>

#include <ostream>
#include <vector>

// Failing comparisons show text rather than UTF-16 units.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// Records every script the program runs and answers with ok/result/error.
class ScriptRecorder {
public:
    ScriptRecorder();
    ~ScriptRecorder();
    ScriptRecorder(const ScriptRecorder&) = delete;
    ScriptRecorder& operator=(const ScriptRecorder&) = delete;

    std::vector<QString> scripts;
    bool ok = true;
    QString result;
    QString error;

private:
    QzHookGuard<QzScriptFn> guard_;
};

// Launch Services answers with this path for "mailto:" while alive.
class MailtoApp {
public:
    explicit MailtoApp(const QString& path);
    ~MailtoApp();
    MailtoApp(const MailtoApp&) = delete;
    MailtoApp& operator=(const MailtoApp&) = delete;

private:
    QzHookGuard<QzMailtoAppFn> guard_;
};

// The accessibility permission answers `granted` while alive.
class Accessibility {
public:
    explicit Accessibility(bool granted);
    ~Accessibility() = default;
    Accessibility(const Accessibility&) = delete;
    Accessibility& operator=(const Accessibility&) = delete;

private:
    QzHookGuard<QzAccessibilityFn> guard_;
};

// Writes a SystemVersion.plist with this ProductVersion (raw file bytes
// when `raw` is set) and points SystemVersionAtLeast at it while alive.
class SystemVersion {
public:
    SystemVersion(const Sandbox& sandbox, const std::string& version, bool raw = false);
    ~SystemVersion();
    SystemVersion(const SystemVersion&) = delete;
    SystemVersion& operator=(const SystemVersion&) = delete;
};

// An XML property list holding one dictionary of string keys and values.
std::string PlistXml(const std::vector<std::pair<std::string, std::string>>& entries);

// The notify state and the settings it reads, as a fresh start has them.
void ResetNotifyState();
