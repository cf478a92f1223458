// SPDX-License-Identifier: MIT
#include "RemoteRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

namespace {

/** The same fields as `names`, no fewer and no more. */
bool hasExactly(const QJsonObject &object, const QSet<QString> &names)
{
    const QStringList keys = object.keys();
    return QSet<QString>(keys.begin(), keys.end()) == names;
}

/** How many names the JSON object in `line` gives at its top, one given twice counted twice
    (QJsonObject keeps the last alone). */
qsizetype namesGiven(QByteArrayView line)
{
    qsizetype names = 0;
    int depth = 0;
    bool text = false;
    bool escaped = false;
    for (const char c : line) {
        if (text) {
            const bool quoted = escaped;
            escaped = !quoted && c == '\\';
            text = quoted || c != '"';
        } else if (c == '"') {
            text = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == ':' && depth == 1) {
            ++names;
        }
    }
    return names;
}

} // namespace

std::variant<RemoteRequest, QString> RemoteRequest::parse(QByteArrayView line)
{
    if (line.size() > kLineLimit)
        return QStringLiteral("the request is longer than %1 bytes").arg(kLineLimit);
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("the request is not JSON: %1 at byte %2")
            .arg(error.errorString())
            .arg(error.offset);
    if (!document.isObject())
        return QStringLiteral("a request is one JSON object");
    const QJsonObject object = document.object();
    if (namesGiven(line) != object.size())
        return QStringLiteral("a name is given twice in the request");

    RemoteRequest request;
    for (const Kind kind : {Kind::Status, Kind::Raise}) { // {"status": true}, {"raise": true}
        const QString name =
            kind == Kind::Status ? QStringLiteral("status") : QStringLiteral("raise");
        if (!hasExactly(object, {name}))
            continue;
        if (object.value(name) != QJsonValue(true))
            return QStringLiteral("\"%1\" takes true").arg(name);
        request.kind = kind;
        return request;
    }
    request.kind = Kind::Press;
    if (hasExactly(object, {QStringLiteral("press")})) {
        static const QRegularExpression form(
            QRegularExpression::anchoredPattern(QStringLiteral("([1-9])([AB])([1-4])")));
        const QRegularExpressionMatch match =
            form.match(object.value(QLatin1String("press")).toString());
        if (!match.hasMatch())
            return QStringLiteral("\"press\" takes a unit, a section and a position, as \"1A3\"");
        request.unit = match.captured(1).toInt();
        request.section = match.captured(2).at(0).toLatin1();
        request.position = match.captured(3).toInt();
        return request;
    }
    if (hasExactly(object,
                   {QStringLiteral("unit"), QStringLiteral("section"), QStringLiteral("label")})) {
        const int unit = object.value(QLatin1String("unit")).toInt(0); // 0 unless a whole number
        const QString section = object.value(QLatin1String("section")).toString();
        const QJsonValue label = object.value(QLatin1String("label"));
        if (unit < 1 || unit > 9)
            return QStringLiteral("\"unit\" takes a number from 1 to 9");
        if (section != QLatin1String("A") && section != QLatin1String("B"))
            return QStringLiteral("\"section\" takes \"A\" or \"B\"");
        if (!label.isString())
            return QStringLiteral("\"label\" takes a text");
        request.unit = unit;
        request.section = section.at(0).toLatin1();
        request.label = label.toString();
        return request;
    }
    return QStringLiteral("unknown request: a request is {\"press\": \"1A3\"}, {\"unit\": 1, "
                          "\"section\": \"A\", \"label\": \"...\"}, {\"status\": true} or "
                          "{\"raise\": true}");
}
