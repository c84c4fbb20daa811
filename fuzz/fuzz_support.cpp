#include "fuzz_support.h"

#include "app/mainwindow.h"
#include "runtime/hooks.h"
#include "runtime/state.h"
#include "settings/settings.h"

#include <QApplication>

#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string gHome;

// A runtime alert means the runtime met a fault it could only report: the
// fuzzer should see it as a crash. Alerts of the program itself are fine.
int FuzzAlert(const QzAlertRequest& request)
{
    if (request.runtime) {
        std::fprintf(stderr, "runtime alert: %s / %s\n", request.message.toUtf8().constData(),
            request.informative.toUtf8().constData());
        std::abort();
    }
    return 0;
}

} // namespace

void FuzzInit()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TZ", "UTC", 1);
    setenv("LANG", "en_US.UTF-8", 1);
    // On tmpfs where there is one: the analyses save the settings file, and
    // an fsync on a busy disk would make every input look slow.
    char pattern[] = "/dev/shm/qzfuzz-XXXXXX";
    char fallback[] = "/tmp/qzfuzz-XXXXXX";
    const char* home = mkdtemp(pattern);
    if (!home)
        home = mkdtemp(fallback);
    if (!home)
        std::abort();
    gHome = home;
    setenv("HOME", home, 1);
    setenv("XDG_DATA_HOME", (gHome + "/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (gHome + "/.config").c_str(), 1);
    std::signal(SIGPIPE, SIG_IGN);
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv); // lives until the process ends
    setlocale(LC_NUMERIC, "C");
    gQzAlertHook = FuzzAlert;
}

const std::string& FuzzHome()
{
    return gHome;
}

bool FuzzWriteFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

FedPipe::FedPipe(int fileId, const std::uint8_t* data, std::size_t size, std::size_t chunk)
    : fileId_(fileId)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        std::abort();
    QzClose(fileId);
    QzFileChannel& ch = gQzChannels[static_cast<std::size_t>(fileId)];
    ch.open = true;
    ch.isPipe = true;
    ch.pipeFd = fds[0];
    const int out = fds[1];
    writer_ = std::thread([out, data, size, chunk] {
        std::size_t done = 0;
        while (done < size) {
            const std::size_t step = std::min(chunk, size - done);
            const ssize_t n = write(out, data + done, step);
            if (n <= 0)
                break; // the reader closed its end
            done += static_cast<std::size_t>(n);
        }
        close(out);
    });
}

FedPipe::~FedPipe()
{
    QzClose(fileId_); // a reader that stopped early lets the writer finish
    writer_.join();
}

void FuzzInitAnalysis()
{
    FuzzInit();
    ShowMainWindow(false);
    BuildReportArea();
    LoadSettings();
}
