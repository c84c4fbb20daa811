// Several Macs in one report: every format joins the Macs' own reports, and a check that ends without its report
// stands as a log not had for that Mac alone.

#include "test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// An ssh on PATH that runs the Mac's command here on the simulated Mac; "lost" kills the report command that checks
// it, as a crash would.
TEST(SeveralMacs, EveryFormatJoinsTheMacsAndALostCheckIsALogNotHad)
{
    Sandbox sandbox;
    sandbox.Stub(QStringLiteral("ssh"),
        "while [ \"$1\" != -- ]; do shift; done\n"
        "if [ \"$2\" = lost ]; then p=$PPID\n"
        "  while [ \"$(cat /proc/$p/comm)\" != quillaby-report ]; do p=$(cut -d' ' -f4 /proc/$p/stat); done\n"
        "  kill -9 $p; fi\n"
        "PATH='" QZ_STANDIN_DIR "':$PATH exec sh -c \"$3\"");
    const std::string env = "QUILLABY_LOG_NOW='2026-03-10 12:00:00'";

    ShResult r = Report("yesterday --json --host mac-a --host lost", env);
    const QJsonArray macs = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
    ASSERT_EQ(macs.size(), 2) << r.out << r.err;
    EXPECT_EQ(macs[0][QStringLiteral("host")].toString() + macs[1][QStringLiteral("host")].toString(),
        QStringLiteral("mac-alost"));
    EXPECT_EQ(macs[1][QStringLiteral("status")].toString(), QStringLiteral("Unable to get yesterday's error log"));
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "lost: quillaby-report: the check ended without a report\n");

    r = Report("today --format text --host mac-a --host lost", env);
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.out.starts_with("=== mac-a ===\n")) << r.out;
    EXPECT_TRUE(r.out.ends_with("successfully.\n\n=== lost ===\nUnable to get today's error log\n")) << r.out;

    r = Report("today --format nagios --host mac-a --host lost --host \"o'b=c\"", env);
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out.substr(0, r.out.find(" |")), "QUILLABY UNKNOWN - 3 Macs: 1 UNKNOWN, 2 OK") << r.out;
    EXPECT_NE(r.out.find(" 'o_b_c problem_lines'=0;;;0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nlost: UNKNOWN - Unable to get today's error log\n"), std::string::npos) << r.out;

    r = Report("today --format prometheus --host mac-a --host lost", env);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.out.find("quillaby_status{host=\"lost\",log=\"today\"} 2\n"), std::string::npos) << r.out;

    for (const char* limit : {"0", "3601", "5s", ""}) {
        r = Report("today --host mac-a --host mac-b", env + " QUILLABY_FETCH_LIMIT=" + limit);
        EXPECT_EQ(r.code, 64) << limit;
        EXPECT_EQ(r.err,
            std::string("quillaby-report: QUILLABY_FETCH_LIMIT is not a number of seconds from 1 to 3600: ") + limit
                + "\n");
    }
}
