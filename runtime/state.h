#pragma once

// Module-level state of the runtime, main thread only.

#include "runtime/channels.h"
#include "runtime/shortstring.h"
#include "runtime/textcontainer.h"

#include <array>
#include <cstdint>

// Counted strings.
inline std::int16_t gQzStk = 0; // StringStack slots in use, 0..64
inline std::array<ShortString, kQzStackSlots> gQzStackSlots {}; // slot k (1-based) in use while gQzStk >= k
inline ShortString QzResultStr; // last result of a string-valued operation

// Text containers.
inline TextContainer QzWorkContainer; // piece returned by QzContainerMid; scratch of one statement
inline TextContainer QzCompareContainer; // literal put into a container for QzContainerDiffers

// Channels.
inline std::array<QzFileChannel, kQzMaxFileId + 1> gQzChannels {}; // index = FileID 1..255; 0 unused
inline std::int32_t gQzOutputChannel = 0; // QzSetOutput; 0 writes nothing
inline std::int64_t QzLastFileError = 0; // last code reported to the handler
inline QzFileErrorHandlerFn QzFileErrorHandler = QzFileErrorAlert; // start-up installs one that ignores
