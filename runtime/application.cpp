#include "runtime/application.h"

#include <QApplication>

#include <clocale>

void QzApplicationInit(int& argc, char** argv)
{
    if (!QCoreApplication::instance())
        new QApplication(argc, argv); // lives until the process ends
    // QApplication adopts the user's locale; numbers are read and written
    // with the C library's own rules, a point before the fraction.
    setlocale(LC_NUMERIC, "C");
}
