#pragma once

// The program's version, the project's own (CMakeLists.txt), for the about
// window and quillaby-report --version.
inline constexpr char kQuillabyVersion[] = QZ_VERSION;
