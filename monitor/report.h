#pragma once

#include "runtime/shortstring.h"

// The CR LF pair that ends every line of the report.
inline const ShortString kCrLf = "\r\n";

// Sets the status line (text label 8 of the current window).
void SetStatusLine(const ShortString& text);
// gReport += text.
void AppendReport(const ShortString& text);
