// SPDX-License-Identifier: MIT
#include "RequestEngine.h"

#include "gpib/GpibApi.h"

#include <QJsonArray>

namespace {

using Holder = PanelControl::Holder;

} // namespace

QString RequestEngine::positionName(int position)
{
    return QStringLiteral("%1%2")
        .arg(QLatin1Char(position < PanelControl::kSectionPositions ? 'A' : 'B'))
        .arg(position % PanelControl::kSectionPositions + 1);
}

QString RequestEngine::notTaken(int unit, int position, const UnitDeviceLink::Result &result)
{
    return QStringLiteral("unit %1 did not take %2").arg(unit).arg(positionName(position))
           + (result.refusal ? QStringLiteral(": the driver answered ")
                                   + QString::fromStdString(gpib::errorWithReason(
                                       result.refusal->first, result.refusal->second))
                             : QString());
}

QString RequestEngine::heldBy(Holder holder)
{
    switch (holder) {
    case Holder::Closing:
        return QStringLiteral("the panel is closing");
    case Holder::Starting:
        return QStringLiteral("the panel is starting");
    case Holder::ConfigurationDialog:
        return QStringLiteral("the configuration dialog is open");
    case Holder::MessageBox:
    case Holder::Nobody:
        break;
    }
    return QStringLiteral("a message box is open");
}

void RequestEngine::serve(const RemoteRequest &request, const Answer &answer)
{
    const Holder holder = m_panel.holder();
    if (holder == Holder::Closing)
        return answer(refusal(heldBy(holder)));
    if (request.kind == RemoteRequest::Kind::Raise) {
        m_panel.bringToFront();
        return answer({{QStringLiteral("ok"), true}});
    }
    if (holder != Holder::Nobody)
        return answer(refusal(heldBy(holder)));
    if (request.kind == RemoteRequest::Kind::Status)
        return answer(status());
    press(request, answer);
}

void RequestEngine::press(const RemoteRequest &request, const Answer &answer)
{
    const auto refuse = [&answer](const QString &reason) { answer(refusal(reason)); };
    const std::vector<PanelControl::ShownUnit> units = m_panel.shownUnits();
    const int index = request.unit - 1;
    if (index >= static_cast<int>(units.size()))
        return refuse(QStringLiteral("unit %1 is not shown").arg(request.unit));
    const PanelControl::ShownUnit &unit = units[static_cast<std::size_t>(index)];
    if (unit.Editing)
        return refuse(QStringLiteral("unit %1 is being edited").arg(request.unit));
    const int first = request.section == 'A' ? 0 : PanelControl::kSectionPositions;
    int position = first + request.position - 1;
    if (request.position == 0) { // by label: the one button of the section that carries it
        position = -1;
        for (int p = first; p < first + PanelControl::kSectionPositions; ++p) {
            if (unit.labels[p] != request.label || request.label.isEmpty())
                continue;
            if (position >= 0)
                return refuse(QStringLiteral("several buttons of unit %1, section %2 carry \"%3\"")
                                  .arg(request.unit)
                                  .arg(request.section)
                                  .arg(request.label));
            position = p;
        }
        if (position < 0)
            return refuse(QStringLiteral("no button of unit %1, section %2 carries \"%3\"")
                              .arg(request.unit)
                              .arg(request.section)
                              .arg(request.label));
    }
    const QString name = positionName(position);
    if (unit.labels[position].isEmpty())
        return refuse(QStringLiteral("unit %1 has no button %2: its label is empty")
                          .arg(request.unit)
                          .arg(name));
    m_panel.press(index, position, [&](const UnitDeviceLink::Result &result) {
        QJsonObject reply {{QStringLiteral("ok"), result.ok},
                           {QStringLiteral("unit"), request.unit},
                           {QStringLiteral("position"), name},
                           {QStringLiteral("link"), result.ok ? "good" : "failed"}};
        if (result.failure) {
            // The driver's message is in the platform's 8-bit encoding, as the store's text.
            reply[QStringLiteral("error")] =
                QString::fromLocal8Bit(UnitDeviceLink::failureMessage(*result.failure))
                    .replace(u'\r', u'\n');
        } else if (!result.ok) {
            reply[QStringLiteral("error")] = notTaken(request.unit, position, result);
        }
        answer(reply);
    });
}

QJsonObject RequestEngine::status() const
{
    QJsonArray units;
    int number = 0;
    for (const PanelControl::ShownUnit &unit : m_panel.shownUnits()) {
        QJsonObject labels;
        QJsonObject selected {{QStringLiteral("A"), QJsonValue()},
                              {QStringLiteral("B"), QJsonValue()}};
        for (int p = 0; p < PanelControl::kPositions; ++p) {
            const QString name = positionName(p);
            labels[name] = unit.labels[p];
            if (unit.selected[p])
                selected[name.left(1)] = name;
        }
        units.append(QJsonObject {
            {QStringLiteral("unit"), ++number},
            {QStringLiteral("address"), QJsonObject {{QStringLiteral("board"), unit.Board},
                                                     {QStringLiteral("pad"), unit.PAd},
                                                     {QStringLiteral("sad"), unit.SAd}}},
            {QStringLiteral("link"), unit.linked ? "good" : "failed"},
            {QStringLiteral("mode"), unit.Editing ? "edit" : "lock"},
            {QStringLiteral("titles"), QJsonObject {{QStringLiteral("A"), unit.titles[0]},
                                                    {QStringLiteral("B"), unit.titles[1]}}},
            {QStringLiteral("labels"), labels},
            {QStringLiteral("selected"), selected}});
    }
    return {{QStringLiteral("ok"), true}, {QStringLiteral("units"), units}};
}
