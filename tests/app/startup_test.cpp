#include "app_world.h"

#include "app/startup.h"
#include "monitor/state.h"
#include "notify/notify_support.h"
#include "notify/state.h"
#include "runtime/channels.h"

#include <QTimer>

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
// The death tests end the program through exit(0), as the application does;
// the sanitizer build's leak check would then report the caches that the
// system's fontconfig never frees, and turn status 0 into a failure.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
#endif

namespace {

using StartUpTest = AppTest;

AlertRecorder* gExitRecorder = nullptr;
void ShowAlertsAtExit()
{
    for (const QzAlertRequest& a : gExitRecorder->alerts)
        std::fprintf(stderr, "<%s|%s|%d>", a.message.toUtf8().constData(), a.informative.toUtf8().constData(), a.style);
}

} // namespace

TEST(StartUp, LanguageNamesComeFromTheFirstThreeCharacters)
{
    const std::pair<const char*, const char*> cases[] = {
        {"en-US", "English"},
        {"en-GB", "English"},
        {"en", "en"},
        {"fr-FR", "French"},
        {"zh-Hans-CN", "Chinese"},
        {"pt-BR", "Portuguese"},
        {"ta-IN", "Tamil"},
        {"ja", "ja"},
        {"eng", "eng"},
        {"", ""},
    };
    for (const auto& [identifier, name] : cases)
        EXPECT_EQ(LanguageNameOf(identifier), ShortString(name)) << identifier;
}

// The user's short name reaches dseditgroup as one argument, exactly, and
// nothing in it runs.
TEST(StartUp, AdminCheckPassesTheShortNameAsOneWord)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("dseditgroup"), "printf '%s\\n' \"$@\" > \"$HOME/args\"; echo yes");
    EXPECT_EQ(AdminCheckCommand("sam"), ShortString("dseditgroup -o checkmember -m sam admin"));
    const std::string names[] = {"sam", "o'brien", "a b", "a b c", "$(touch \"$HOME/pwned\")", "`touch $HOME/pwned`",
        "x;touch $HOME/pwned", "a\\ b", "''", "\"q\"", "-", "", "caf\x8E"};
    for (const std::string& name : names) {
        QFile::remove(sandbox.path() + QStringLiteral("/args"));
        QzOpenPipe(101, AdminCheckCommand(SS(name)));
        ShortString line;
        QzLineInput(101, line);
        QzClose(101);
        EXPECT_EQ(line, ShortString("yes")) << name;
        EXPECT_EQ(ReadFile(sandbox.path() + QStringLiteral("/args")), "-o\ncheckmember\n-m\n" + name + "\nadmin\n");
        EXPECT_FALSE(QFile::exists(sandbox.path() + QStringLiteral("/pwned"))) << name;
    }
    // A name that would not fit in the command is not cut into another one.
    EXPECT_TRUE(AdminCheckCommand(SS(std::string(220, 'a'))).empty());
    EXPECT_FALSE(AdminCheckCommand(SS(std::string(200, 'a'))).empty());
}

TEST_F(StartUpTest, StartUpBuildsTheWindowAndStartsBothTimers)
{
    sandbox.Stub(
        QStringLiteral("dseditgroup"), "printf '%s\\n' \"$@\" > \"$HOME/args\"; echo \"yes $4 is a member of admin\"");
    sandbox.Stub(QStringLiteral("scutil"), "[ \"$*\" = '--get ComputerName' ] && echo \"Sam's Test Mac\"");
    sandbox.Write(QStringLiteral(".local/share/Quillaby/Settings"), " 0\r\r\r 0\r 0\r 0\r 12\r\r 1\r 1\r 1\r 1\r");
    // The fixture's window is replaced by the one start-up builds.
    QzResetWindowState();
    gMainWindowBuilt = 0;
    StartUp();

    EXPECT_TRUE(QzWindowExists(1));
    EXPECT_EQ(QzCurrentWindowTag(), 1);
    EXPECT_FALSE(QzViewVisible(10, 1)); // donation hidden by the settings
    EXPECT_FALSE(QzViewVisible(15, 1));
    EXPECT_TRUE(QzViewVisible(6, 1));
    EXPECT_EQ(gDonateHidden, 1);
    EXPECT_EQ(gVersionText, ShortString("Version 8.0.2"));
    EXPECT_EQ(gIntroPending, 1);
    EXPECT_EQ(gPollAllowed, 1);
    EXPECT_EQ(gAccessCheckPending, 0);
    const QString home = QFileInfo(sandbox.path()).fileName();
    EXPECT_EQ(
        ReadFile(sandbox.path() + QStringLiteral("/args")), "-o\ncheckmember\n-m\n" + home.toStdString() + "\nadmin\n");
    EXPECT_EQ(gComputerName, ShortString("Sam's Test Mac")); // the platform's script runner ran scutil
    QList<int> intervals;
    for (QTimer* timer : QzDelegateObject()->findChildren<QTimer*>())
        intervals << timer->interval();
    EXPECT_EQ(intervals, (QList<int> {100, 1800000}));

    // The first pass puts the introduction into the report.
    ASSERT_TRUE(WaitFor([] { return QzTextViewString(1).contains(QStringLiteral("Click on 'Previous Log'")); }));
    EXPECT_TRUE(QzTextViewString(1).startsWith(
        QStringLiteral("\r\n\r\nQuillaby will poll the system log every 30 minutes looking for Time Machine Errors.\r\n"
                       "You can get the log immediately by clicking 'Current Log'\r\n\r\n")));
    EXPECT_TRUE(QzTextViewString(1).endsWith(QStringLiteral("to see yesterday's log")));
}

TEST_F(StartUpTest, AnEnglishSpeakingUserWhoIsNotAnAdministratorCannotStart)
{
    sandbox.Stub(QStringLiteral("dseditgroup"), "echo \"no $4 is NOT a member of admin\"");
    QzResetWindowState();
    gMainWindowBuilt = 0;
    AlertRecorder recorder;
    gExitRecorder = &recorder;
    ASSERT_EQ(PreferredLanguageName(), ShortString("English")); // the test main's en_US
    EXPECT_EXIT(
        {
            std::atexit(ShowAlertsAtExit);
            StartUp();
        },
        ::testing::ExitedWithCode(0),
        "<Quillaby requires an Admin Account\\|\\(System Preferences / Users and Groups\\)\\|2>");
}

TEST_F(StartUpTest, TheSystemVersionDecidesWhetherToStartAndToCheckAccessibility)
{
    sandbox.Stub(QStringLiteral("dseditgroup"), "echo \"yes $4 is a member of admin\"");
    QzResetWindowState();
    gMainWindowBuilt = 0;
    {
        SystemVersion version(sandbox, "10.11.6");
        AlertRecorder recorder;
        gExitRecorder = &recorder;
        EXPECT_EXIT(
            {
                std::atexit(ShowAlertsAtExit);
                StartUp();
            },
            ::testing::ExitedWithCode(0), "^[^<]*<Quillaby requires OS X 10.12 or later.\\|\\|0>[^<]*$");
    }
    SystemVersion version(sandbox, "10.12");
    StartUp();
    EXPECT_EQ(gAccessCheckPending, 1);
    EXPECT_EQ(gRecentWording, 0);
    EXPECT_TRUE(QzWindowExists(1));
}

TEST_F(StartUpTest, ARecentSystemNeedsNoAccessibilityCheckAndHasItsLogWordingRead)
{
    sandbox.Stub(QStringLiteral("dseditgroup"), "echo \"yes $4 is a member of admin\"");
    QzResetWindowState();
    gMainWindowBuilt = 0;
    SystemVersion version(sandbox, "26.1");
    StartUp();
    EXPECT_EQ(gAccessCheckPending, 0);
    EXPECT_EQ(gRecentWording, 1);
}
