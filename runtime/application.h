#pragma once

// Creates the shared application object (a QApplication) for the rest of
// the run, before any window operation. argc and argv must outlive it.
void QzApplicationInit(int& argc, char** argv);
