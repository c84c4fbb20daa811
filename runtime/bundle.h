#pragma once

#include <QString>

// The application bundle, found from the running executable: on every
// platform the executable lives in Quillaby.app/Contents/MacOS.
QString QzBundlePath();
// QzBundlePath() + "/Contents/Resources".
QString QzResourcesPath();
