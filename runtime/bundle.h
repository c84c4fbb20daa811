#pragma once

#include <QString>

// The application bundle, found from the running executable: on every
// platform the executable lives in Quillaby.app/Contents/MacOS.
QString QzBundlePath();
// QzBundlePath() + "/Contents/Resources".
QString QzResourcesPath();
// Tests and tools that do not run from the bundle point the runtime at one.
void QzSetBundlePath(const QString& path);
