// The alert a user sees: a real message box with the request's icon, texts and buttons, answering with the button
// pressed.

#include "test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

TEST(AlertPresent, ShowsTheRequestAndAnswersWithTheButtonPressed)
{
    struct Row {
        int style;
        QStringList buttons;
        QString press; // empty: the box is closed without a button
        QString seen; // icon, texts and buttons as shown
        int answer;
    };
    const Row rows[] = {
        {0, {}, QStringLiteral("OK"), QStringLiteral("2 Disk full|Free some space|OK >OK"), 0},
        {1, {QStringLiteral("Yes"), QStringLiteral("No")}, QStringLiteral("No"),
            QStringLiteral("1 Disk full|Free some space|Yes No >Yes"), 1},
        {2, {QStringLiteral("Quit"), QStringLiteral("Go on"), QStringLiteral("Crash")}, {},
            QStringLiteral("3 Disk full|Free some space|Quit Go on Crash >Quit"), 0},
    };
    for (const Row& row : rows) {
        QString seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            seen = QString::number(box->icon()) + u' ' + box->text() + u'|' + box->informativeText() + u'|';
            QAbstractButton* pressed = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                seen += button->text() + u' ';
                if (button->text() == row.press)
                    pressed = button;
            }
            seen += u'>' + box->defaultButton()->text();
            pressed ? pressed->click() : box->reject();
        });
        const int answer = QzAlertPresent(
            {0, row.style, QStringLiteral("Disk full"), QStringLiteral("Free some space"), row.buttons, false});
        EXPECT_EQ(seen, row.seen);
        EXPECT_EQ(answer, row.answer) << row.seen.toStdString();
    }
}
