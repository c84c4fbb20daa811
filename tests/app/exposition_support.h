#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <string>

// Prometheus text read by Python's prometheus_client parser: one object a
// family (name, type, help, samples of name, labels and value). Fails the
// test and returns an empty array when the text does not parse.
QJsonArray ParseExposition(const QByteArray& text);
// The same for what an HTTP GET of url returns.
QJsonArray ScrapeExposition(const QString& url);

// The value of the sample called name whose labels include every label of
// want; none when there is no such sample.
std::optional<double> SampleValue(const QJsonArray& families, const QString& name, const QJsonObject& want = {});
// The labels of the first sample called name.
QJsonObject SampleLabels(const QJsonArray& families, const QString& name);
