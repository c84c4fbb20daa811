#pragma once

// Creates the shared application object (a QApplication) for the rest of
// the run, before any window operation. argc and argv must outlive it.
void QzApplicationInit(int& argc, char** argv);
// Gives the program a runtime folder of its own when the session has none
// (XDG_RUNTIME_DIR), as Qt would with a warning; QzApplicationInit calls
// it, and so does whatever starts commands before it.
void QzEnsureRuntimeFolder();
