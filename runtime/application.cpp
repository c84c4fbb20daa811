#include "runtime/application.h"

#include <QApplication>

void QzApplicationInit(int& argc, char** argv)
{
    if (!QCoreApplication::instance())
        new QApplication(argc, argv); // lives until the process ends
}
