#pragma once

// The window tests' fixture: a bundle in a temporary folder with the .ui files asked for; every event recorded.

#include "test_support.h"

#include "runtime/bundle.h"
#include "runtime/events.h"
#include "runtime/state.h"
#include "runtime/testing.h"
#include "runtime/windows.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QWidget>

struct DialogEvent {
    std::int64_t kind = 0;
    std::int64_t id = 0;
    std::int64_t window = 0;
    void* object = nullptr;
    std::int64_t current = 0; // QzCurrentWindow when the handler ran
};

inline std::vector<DialogEvent> gDialogEvents;
inline std::map<std::int64_t, bool> gDialogReplies; // event kind -> the handler's boolean reply

inline void RecordDialog(std::int64_t kind, std::int64_t id, std::int64_t window, void* object)
{
    gDialogEvents.push_back({kind, id, window, object, QzCurrentWindow});
    if (gDialogReplies.count(kind) != 0)
        QzEventReply().boolVal = gDialogReplies[kind];
}

inline std::vector<DialogEvent> EventsOfKind(std::int64_t kind)
{
    std::vector<DialogEvent> found;
    for (const DialogEvent& e : gDialogEvents)
        if (e.kind == kind)
            found.push_back(e);
    return found;
}

// Runs the event loop as the program does (waiting between events) until the condition holds or the time is up.
inline bool WaitFor(const std::function<bool()>& condition, int milliseconds = 5000)
{
    QEventLoop loop;
    QTimer look;
    const QDeadlineTimer deadline(milliseconds);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (condition() || deadline.hasExpired())
            loop.quit();
    });
    look.start(5);
    loop.exec();
    return condition();
}

// Lets queued calls (the addressing alerts) run.
inline void Drain()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

class UiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QzResetWindowState();
        gDialogEvents.clear();
        gDialogReplies.clear();
        QDir().mkpath(Resources());
        QzSetBundlePath(bundle_.path());
        QzOnDialog(RecordDialog);
    }

    void TearDown() override
    {
        QzResetWindowState();
        QzSetBundlePath(QString());
    }

    QString Resources() const { return bundle_.path() + QStringLiteral("/Contents/Resources"); }

    // A .ui file of the test fixtures, or a resource of the built bundle.
    void UseFixtureNib(const QString& name) const
    {
        ASSERT_TRUE(QFile::copy(QStringLiteral(QZ_FIXTURES_DIR "/ui/") + name + QStringLiteral(".ui"),
            Resources() + QLatin1Char('/') + name + QStringLiteral(".ui")));
    }
    void UseAppResource(const QString& file) const
    {
        ASSERT_TRUE(QFile::copy(
            QStringLiteral(QZ_BUNDLE_DIR "/Contents/Resources/") + file, Resources() + QLatin1Char('/') + file));
    }

private:
    QTemporaryDir bundle_;
};
