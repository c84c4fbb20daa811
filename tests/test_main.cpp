// Offscreen windows, a pinned locale and time zone, and an alert hook under which an unexpected alert fails the test.

#include "runtime/hooks.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <clocale>
#include <cstdlib>

int TestAlertHook(const QzAlertRequest& request);

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TZ", "UTC", 1);
    setenv("LANG", "en_US.UTF-8", 1);
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
    QApplication app(argc, argv);
    setlocale(LC_NUMERIC, "C");
    gQzAlertHook = TestAlertHook;
    return RUN_ALL_TESTS();
}
