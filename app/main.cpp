// Quillaby: watches the Time Machine log and tells its user what went wrong
// with the backups. The program ends only through exit with status 0.

#include "app/startup.h"
#include "runtime/application.h"
#include "runtime/events.h"

int main(int argc, char** argv)
{
    QzApplicationInit(argc, argv);
    StartUp();
    QzRunLoop();
    return 0;
}
