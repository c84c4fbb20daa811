#include "exposition_support.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QProcess>

namespace {

const char* const kParser = R"(import json, sys, urllib.request
from prometheus_client.parser import text_string_to_metric_families
if len(sys.argv) > 1:
    text = urllib.request.urlopen(sys.argv[1], timeout=20).read().decode('utf-8')
else:
    text = sys.stdin.read()
print(json.dumps([{'name': f.name, 'type': f.type, 'help': f.documentation,
                   'samples': [{'name': s.name, 'labels': s.labels, 'value': s.value} for s in f.samples]}
                  for f in text_string_to_metric_families(text)]))
)";

QJsonArray RunParser(const QStringList& args, const QByteArray& input)
{
    QProcess p;
    // Debian's interpreter, which has Debian's prometheus_client.
    p.start(QStringLiteral("/usr/bin/python3"), QStringList {QStringLiteral("-c"), QString::fromUtf8(kParser)} + args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    const QByteArray out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << "prometheus_client rejects the text: " << p.readAllStandardError().toStdString() << "\n"
                      << input.toStdString();
        return {};
    }
    return QJsonDocument::fromJson(out).array();
}

} // namespace

QJsonArray ParseExposition(const QByteArray& text)
{
    return RunParser({}, text);
}

QJsonArray ScrapeExposition(const QString& url)
{
    return RunParser({url}, {});
}

std::optional<double> SampleValue(const QJsonArray& families, const QString& name, const QJsonObject& want)
{
    for (const auto& family : families) {
        for (const auto& s : family.toObject().value(QStringLiteral("samples")).toArray()) {
            const QJsonObject sample = s.toObject();
            if (sample.value(QStringLiteral("name")).toString() != name)
                continue;
            const QJsonObject labels = sample.value(QStringLiteral("labels")).toObject();
            bool all = true;
            for (auto it = want.begin(); it != want.end(); ++it)
                all = all && labels.value(it.key()) == it.value();
            if (all)
                return sample.value(QStringLiteral("value")).toDouble();
        }
    }
    return std::nullopt;
}

QJsonObject SampleLabels(const QJsonArray& families, const QString& name)
{
    for (const auto& family : families) {
        for (const auto& s : family.toObject().value(QStringLiteral("samples")).toArray()) {
            if (s.toObject().value(QStringLiteral("name")).toString() == name)
                return s.toObject().value(QStringLiteral("labels")).toObject();
        }
    }
    return {};
}
