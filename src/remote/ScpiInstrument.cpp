// SPDX-License-Identifier: MIT
#include "ScpiInstrument.h"

#include "RequestEngine.h"

#include <cmath>

namespace {

enum Kind {
    Close,
    CloseExclusive,
    CloseQuery,
    Open,
    OpenAll,
    LabelQuery,
    ErrorNext,
    ErrorCount,
    Version
};

struct Command
{
    const char *pattern; ///< long forms; the capitals are the short form; [:NODE] optional
    bool query;
    Kind kind;
};

constexpr Command kCommands[] = {
    {"ROUTe:CLOSe", false, Close},
    {"ROUTe:CLOSe:EXCLusive", false, CloseExclusive},
    {"ROUTe:CLOSe", true, CloseQuery},
    {"ROUTe:OPEN", false, Open},
    {"ROUTe:OPEN:ALL", false, OpenAll},
    {"ROUTe:CHANnel:LABel", true, LabelQuery},
    {"SYSTem:ERRor[:NEXT]", true, ErrorNext},
    {"SYSTem:ERRor:COUNt", true, ErrorCount},
    {"SYSTem:VERSion", true, Version},
};

bool keywordMatches(QByteArrayView typed, QByteArrayView longForm)
{
    QByteArray shortForm;
    for (const char c : longForm) {
        if (c < 'a' || c > 'z')
            shortForm += c;
    }
    return typed.compare(longForm, Qt::CaseInsensitive) == 0
           || typed.compare(shortForm, Qt::CaseInsensitive) == 0;
}

/** Whether the typed keywords name the pattern's node path, optional nodes left out or not. */
bool matches(const std::vector<QByteArray> &typed, QByteArrayView pattern)
{
    std::size_t next = 0;
    // "ERRor[:NEXT]" read as the nodes "ERRor" and "[NEXT]".
    for (QByteArrayView node :
         QByteArray(pattern.data(), pattern.size()).replace("[:", ":[").split(':')) {
        const bool optional = node.startsWith('[');
        if (optional)
            node = node.sliced(1).chopped(1);
        if (next < typed.size() && keywordMatches(typed[next], node))
            ++next;
        else if (!optional)
            return false;
    }
    return next == typed.size();
}

QString standardText(int code)
{
    switch (code) {
    case -102:
        return QStringLiteral("Syntax error");
    case -108:
        return QStringLiteral("Parameter not allowed");
    case -109:
        return QStringLiteral("Missing parameter");
    case -113:
        return QStringLiteral("Undefined header");
    case -221:
        return QStringLiteral("Settings conflict");
    case -222:
        return QStringLiteral("Data out of range");
    case -223:
        return QStringLiteral("Too much data");
    case -240:
        return QStringLiteral("Hardware error");
    case -350:
        return QStringLiteral("Queue overflow");
    default:
        return QStringLiteral("Execution error");
    }
}

/** SCPI string data: in double quotes, a double quote inside doubled. */
QByteArray quoted(const QString &text)
{
    return '"' + text.toUtf8().replace('"', "\"\"") + '"';
}

/** The client's bytes as an answer may show them: printable ASCII, anything else "?". */
QString shown(QByteArrayView bytes)
{
    QString text;
    for (const char c : bytes)
        text += c >= ' ' && c <= '~' ? QChar::fromLatin1(c) : QChar(u'?');
    return text;
}

/** The program message units of a line: cut at each ";" outside quotes. */
std::vector<QByteArrayView> units(QByteArrayView line)
{
    std::vector<QByteArrayView> units;
    char quote = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote ? c == quote : c == '"' || c == '\'')
            quote = quote ? 0 : c;
        else if (!quote && c == ';')
            units.push_back(line.sliced(start, i - start)), start = i + 1;
    }
    units.push_back(line.sliced(start));
    return units;
}

const QString kAlwaysAtOne =
    QStringLiteral("a section is always at one of its positions: close another one to move it");

} // namespace

ScpiInstrument::ScpiInstrument(PanelControl &panel, const QString &instance)
    : m_panel(panel)
{
    QString name = instance;
    for (QChar &c : name) {
        if (c == u',' || c == u';' || c.category() == QChar::Other_Control)
            c = u' ';
    }
    m_identity = QStringLiteral("Talvern Software,SELVANE,%1," SELVANE_VERSION_TEXT).arg(name);
}

void ScpiInstrument::serve(const QByteArray &line, const Reply &reply)
{
    reply(execute(line));
}

QByteArray ScpiInstrument::overlong()
{
    fail(-223, QStringLiteral("the line is longer than %1 bytes").arg(kLineLimit));
    return {};
}

QByteArray ScpiInstrument::execute(QByteArrayView line)
{
    QByteArrayList answers;
    std::vector<QByteArray> path; // the header path, from the line's last compound command
    m_commandError = false;
    for (const QByteArrayView unit : units(line)) {
        const QByteArrayView text = unit.trimmed();
        if (text.isEmpty())
            continue;
        qsizetype end = 0;
        while (end < text.size()
               && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == ':'
                   || text[end] == '*' || text[end] == '?' || text[end] == '_'))
            ++end;
        if (end == 0) {
            fail(-102, QStringLiteral("a command begins with its header"));
        } else if (const auto answer = command(text.first(end), text.sliced(end).trimmed(), path)) {
            answers << *answer;
        }
        if (m_commandError)
            break; // a command error drops the rest of its line
    }
    return answers.isEmpty() ? QByteArray() : answers.join(';') + '\n';
}

std::optional<QByteArray> ScpiInstrument::command(QByteArrayView header, QByteArrayView parameters,
                                                  std::vector<QByteArray> &path)
{
    if (header.startsWith('*'))
        return common(header, parameters);
    const QString typed = QString::fromLatin1(header);
    const bool query = header.endsWith('?');
    const bool absolute = header.startsWith(':');
    const QByteArray names =
        QByteArray(header.data(), header.size()).mid(absolute ? 1 : 0).chopped(query ? 1 : 0);
    std::vector<QByteArray> keywords;
    for (const QByteArray &keyword : names.split(':')) {
        if (keyword.isEmpty() || keyword.contains('?') || keyword.contains('*')) {
            fail(-102, QStringLiteral("the header %1 is not made of keywords").arg(typed));
            return std::nullopt;
        }
        keywords.push_back(keyword);
    }
    // First below the last compound command's path, as SCPI reads it, then from the root.
    std::vector<QByteArray> below = path;
    below.insert(below.end(), keywords.begin(), keywords.end());
    for (const std::vector<QByteArray> *full : {&below, &keywords}) {
        if (full == &below && (absolute || path.empty()))
            continue;
        for (const Command &known : kCommands) {
            if (known.query == query && matches(*full, known.pattern)) {
                path.assign(full->begin(), full->end() - 1);
                return route(known.kind, parameters);
            }
        }
    }
    fail(-113, typed);
    return std::nullopt;
}

std::optional<QByteArray> ScpiInstrument::route(int kind, QByteArrayView parameters)
{
    const bool listed = kind == Close || kind == CloseExclusive || kind == CloseQuery
                        || kind == Open || kind == LabelQuery;
    if (!listed && !parameters.isEmpty()) {
        fail(-108);
        return std::nullopt;
    }
    switch (kind) {
    case ErrorNext: {
        if (m_errors.empty())
            return QByteArray("0,\"No error\"");
        const auto [code, text] = m_errors.front();
        m_errors.pop_front();
        return QByteArray::number(code) + ',' + quoted(text);
    }
    case ErrorCount:
        return QByteArray::number(qsizetype(m_errors.size()));
    case Version:
        return QByteArray("1999.0");
    case OpenAll:
        fail(-221, kAlwaysAtOne);
        return std::nullopt;
    default:
        break;
    }
    if (parameters.isEmpty()) {
        fail(-109, QStringLiteral("a channel list, as (@111)"));
        return std::nullopt;
    }
    const auto list = channels(parameters);
    if (const Failure *failure = std::get_if<Failure>(&list)) {
        fail(failure->first, failure->second);
        return std::nullopt;
    }
    const auto &chosen = std::get<std::vector<Channel>>(list);
    if (kind == Open) {
        fail(-221, kAlwaysAtOne);
        return std::nullopt;
    }
    if (kind == Close || kind == CloseExclusive) {
        if (const auto failure = close(chosen))
            fail(failure->first, failure->second);
        return std::nullopt;
    }
    if (const auto failure = refusal(chosen, false)) {
        fail(failure->first, failure->second);
        return std::nullopt;
    }
    const std::vector<PanelControl::ShownUnit> shown = m_panel.shownUnits();
    QByteArrayList answers;
    for (const Channel &channel : chosen) {
        const PanelControl::ShownUnit &unit = shown[std::size_t(channel.unit)];
        answers << (kind == LabelQuery ? quoted(unit.labels[channel.position])
                                       : QByteArray(unit.selected[channel.position] ? "1" : "0"));
    }
    return answers.join(',');
}

std::optional<QByteArray> ScpiInstrument::common(QByteArrayView header, QByteArrayView parameters)
{
    const QByteArray name = QByteArray(header.data(), header.size()).toUpper();
    const bool setting = name == "*ESE" || name == "*SRE";
    if (!setting && !parameters.isEmpty()
        && (name == "*IDN?" || name == "*RST" || name == "*CLS" || name == "*ESE?"
            || name == "*ESR?" || name == "*SRE?" || name == "*STB?" || name == "*OPC"
            || name == "*OPC?" || name == "*WAI" || name == "*TST?")) {
        fail(-108);
        return std::nullopt;
    }
    if (setting) {
        if (parameters.isEmpty()) {
            fail(-109, QStringLiteral("a number from 0 to 255"));
            return std::nullopt;
        }
        bool ok = false;
        const double value = QByteArray(parameters.data(), parameters.size()).toDouble(&ok);
        if (!ok) {
            fail(-102, QStringLiteral("%1 takes a number").arg(QString::fromLatin1(name)));
        } else if (std::isnan(value) || std::round(value) < 0 || std::round(value) > 255) {
            fail(-222,
                 QStringLiteral("%1 takes a number from 0 to 255").arg(QString::fromLatin1(name)));
        } else if (name == "*ESE") {
            m_eventsEnabled = std::uint8_t(std::lround(value));
        } else {
            m_serviceEnabled = std::uint8_t(std::lround(value)) & ~0x40; // the summary bit
        }
        return std::nullopt;
    }
    if (name == "*IDN?")
        return m_identity.toUtf8();
    if (name == "*CLS") {
        m_errors.clear();
        m_events = 0;
    } else if (name == "*ESE?") {
        return QByteArray::number(m_eventsEnabled);
    } else if (name == "*ESR?") {
        return QByteArray::number(std::exchange(m_events, 0));
    } else if (name == "*SRE?") {
        return QByteArray::number(m_serviceEnabled);
    } else if (name == "*STB?") {
        return QByteArray::number(statusByte());
    } else if (name == "*OPC") {
        m_events |= 0x01; // every operation is complete when its command ends
    } else if (name == "*OPC?") {
        return QByteArray("1");
    } else if (name == "*TST?") {
        return QByteArray("0");
    } else if (name != "*RST" && name != "*WAI") { // a reset changes no switch position
        fail(-113, QString::fromLatin1(header));
    }
    return std::nullopt;
}

std::variant<std::vector<ScpiInstrument::Channel>, ScpiInstrument::Failure>
ScpiInstrument::channels(QByteArrayView text) const
{
    if (!text.startsWith("(@") || !text.endsWith(')'))
        return Failure {-102, QStringLiteral("a channel list is written as (@111,121:124)")};
    std::vector<Channel> list;
    const auto channel = [](QByteArrayView digits) -> std::variant<Channel, Failure> {
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return Failure {-102,
                                QStringLiteral("%1 is not a channel number").arg(shown(digits))};
        }
        if (digits.size() != 3 || digits[0] < '1' || digits[0] > '3' || digits[1] < '1'
            || digits[1] > '2' || digits[2] < '1' || digits[2] > '4')
            return Failure {-222, QStringLiteral("no channel %1 here: its digits are a unit (1-3), "
                                                 "a section (1 for A, 2 for B) and a position "
                                                 "(1-4)")
                                      .arg(shown(digits))};
        return Channel {digits[0] - '1', (digits[1] - '1') * 4 + digits[2] - '1'};
    };
    const QByteArray inner(text.data() + 2, text.size() - 3);
    for (const QByteArray &item : inner.split(',')) {
        const QList<QByteArray> ends = item.trimmed().split(':');
        if (ends.size() > 2)
            return Failure {-102, QStringLiteral("a range has two ends")};
        std::vector<Channel> named;
        for (const QByteArray &end : ends) {
            const auto read = channel(end.trimmed());
            if (const Failure *failure = std::get_if<Failure>(&read))
                return *failure;
            named.push_back(std::get<Channel>(read));
        }
        if (named.size() == 2
            && (named[0].unit != named[1].unit || named[0].position / 4 != named[1].position / 4))
            return Failure {
                -222, QStringLiteral("the range %1 crosses sections").arg(shown(item.trimmed()))};
        const int step = named.back().position >= named.front().position ? 1 : -1;
        for (int p = named.front().position; p != named.back().position + step; p += step)
            list.push_back({named.front().unit, p});
    }
    return list;
}

std::optional<ScpiInstrument::Failure> ScpiInstrument::refusal(const std::vector<Channel> &list,
                                                               bool pressing) const
{
    if (const PanelControl::Holder holder = m_panel.holder();
        holder != PanelControl::Holder::Nobody)
        return Failure {-200, RequestEngine::heldBy(holder)};
    const std::vector<PanelControl::ShownUnit> shown = m_panel.shownUnits();
    for (const Channel &channel : list) {
        if (channel.unit >= int(shown.size()))
            return Failure {-222, QStringLiteral("unit %1 is not shown").arg(channel.unit + 1)};
        const PanelControl::ShownUnit &unit = shown[std::size_t(channel.unit)];
        if (pressing && unit.Editing)
            return Failure {-200, QStringLiteral("unit %1 is being edited").arg(channel.unit + 1)};
        if (unit.labels[channel.position].isEmpty())
            return Failure {-222, QStringLiteral("unit %1 has no button %2: its label is empty")
                                      .arg(channel.unit + 1)
                                      .arg(RequestEngine::positionName(channel.position))};
    }
    return std::nullopt;
}

std::optional<ScpiInstrument::Failure> ScpiInstrument::close(const std::vector<Channel> &list)
{
    for (std::size_t i = 0; i < list.size(); ++i) { // the whole list first: all or nothing
        for (std::size_t j = i + 1; j < list.size(); ++j) {
            if (list[i].unit == list[j].unit && list[i].position / 4 == list[j].position / 4
                && list[i].position != list[j].position)
                return Failure {-221, QStringLiteral("%1 and %2 of unit %3 are one section")
                                          .arg(RequestEngine::positionName(list[i].position),
                                               RequestEngine::positionName(list[j].position))
                                          .arg(list[i].unit + 1)};
        }
    }
    if (auto failure = refusal(list, true))
        return failure;
    for (const Channel &channel : list) {
        std::optional<Failure> failed;
        m_panel.press(channel.unit, channel.position, [&](const UnitDeviceLink::Result &result) {
            if (result.ok)
                return;
            failed = Failure {
                -240, result.failure
                          ? QString::fromLocal8Bit(result.failure->description())
                          : RequestEngine::notTaken(channel.unit + 1, channel.position, result)};
        });
        if (failed)
            return failed; // the channels after it are not pressed
    }
    return std::nullopt;
}

void ScpiInstrument::fail(int code, const QString &detail)
{
    const QString text = standardText(code) + (detail.isEmpty() ? QString() : u';' + detail);
    if (m_errors.size() < kQueueDepth)
        m_errors.emplace_back(code, text);
    else
        m_errors.back() = {-350, standardText(-350)}; // the newest gives way
    const int kind = -code / 100; // 1 command, 2 execution, 3 device-dependent, 4 query
    m_events |= kind == 1 ? 0x20 : kind == 2 ? 0x10 : kind == 3 ? 0x08 : 0x04;
    m_events |= m_errors.back().first == -350 ? 0x08 : 0;
    if (kind == 1)
        m_commandError = true;
}

std::uint8_t ScpiInstrument::statusByte() const
{
    std::uint8_t status = m_errors.empty() ? 0 : 0x04; // the error queue holds one
    if (m_events & m_eventsEnabled)
        status |= 0x20;
    if (status & m_serviceEnabled)
        status |= 0x40;
    return status;
}
