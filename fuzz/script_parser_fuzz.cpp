// The stand-in script runner's parser: a script text matched against the
// shapes the runner knows (fixed pieces with a string literal between each
// two), and the Finder colon paths it turns into POSIX paths. Nothing is
// run: the runner itself would start shell commands.

#include "fuzz_support.h"

#include "platform/script_standin.h"

#include <QString>
#include <QStringList>

#include <cstdlib>

namespace {

const QString kFinder = QStringLiteral("tell application \"Finder\"\n");

const QStringList kShapes[] = {
    {QStringLiteral("do shell script "), QString()},
    {kFinder + QStringLiteral("open alias "), QStringLiteral("\nend tell")},
    {QStringLiteral("set recipientName to "), QStringLiteral("\nset recipientAddress to "),
        QStringLiteral("\nset theSubject to "), QStringLiteral("\nset theContent to "),
        QStringLiteral("\ntell application \"Mail\"\n")},
    {QStringLiteral("tell application "), QStringLiteral("\nactivate\n"), QStringLiteral(","),
        QStringLiteral("}\nend tell")},
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QStringList& pieces = kShapes[data[0] % std::size(kShapes)];
    const QString source = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    QStringList literals;
    if (MatchScript(source, pieces, &literals) && literals.size() != pieces.size() - 1)
        std::abort();
    PosixPathOfColonPath(source);
    return 0;
}
