#pragma once

// Shared set-up of the fuzz targets: an offscreen application, a private
// HOME, an alert hook under which a runtime alert is a finding, and a
// channel fed with the fuzzer's bytes through a real pipe.

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

// Once per process: offscreen Qt application, pinned locale and time zone,
// a fresh temporary HOME (on tmpfs when there is one), SIGPIPE ignored.
void FuzzInit();
// FuzzInit, then the hidden main window with its report area and the
// settings loaded, as the report command has them before an analysis.
void FuzzInitAnalysis();
// The temporary HOME made by FuzzInit.
const std::string& FuzzHome();
// Writes bytes to path (replacing it); false when that fails.
bool FuzzWriteFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// Opens channel `fileId` as a pipe whose other end a thread fills with the
// bytes, in writes of `chunk` bytes (at least 1), then closes it. Going
// away closes the channel and waits for the writer.
class FedPipe {
public:
    FedPipe(int fileId, const std::uint8_t* data, std::size_t size, std::size_t chunk);
    ~FedPipe();
    FedPipe(const FedPipe&) = delete;
    FedPipe& operator=(const FedPipe&) = delete;

private:
    int fileId_;
    std::thread writer_;
};
