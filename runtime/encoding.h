#pragma once

#include <QString>

#include <cstddef>
#include <optional>
#include <string>

// Bytes to platform text: each valid UTF-8 sequence is read as UTF-8 and
// every other byte as Mac Roman. Log text is UTF-8 while typed text that went
// through the settings file is Mac Roman; this reads both correctly.
QString QzDecodeBytes(const char* data, std::size_t size);
// The same text as QzDecodeBytes(data, size).toUtf8(), appended to out
// without building the platform string.
void QzAppendBytesAsUtf8(const char* data, std::size_t size, std::string& out);

// Platform text to Mac Roman bytes through ICU's "macintosh" converter;
// nothing when a character has no Mac Roman byte.
std::optional<std::string> QzEncodeMacRoman(const QString& text);

// The text with each control character that could hide or rewrite what is
// shown (C0 and DEL; tab, CR and LF too unless keepLineBreaks) replaced by
// its visible picture (U+2400 onwards), for a mail body or a one-line
// monitoring output, which must not carry them raw.
QString QzVisibleControls(const QString& text, bool keepLineBreaks);
