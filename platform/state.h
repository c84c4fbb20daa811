#pragma once

#include <QString>

#include <cstdint>

// Module-level state of platform/.

// The Mac's script runner (OsascriptRunScript).
inline QString gOsascriptPath = QStringLiteral("/usr/bin/osascript"); // tests: a stub in their own folder
inline std::int64_t gOsascriptLimitMs = 120000; // a script still running after this long is killed
