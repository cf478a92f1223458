// SPDX-License-Identifier: MIT
#pragma once

#include "LineProtocol.h"
#include "PanelControl.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

/**
 * The panel as an SCPI instrument, for one connection: a line of commands joined by ";"
 * (headers in long or short form, any case), its queries' answers joined by ";" in one line.
 * A channel is three digits: unit (1-3), section (1 for A, 2 for B), position (1-4).
 * ROUTe:CLOSe presses as the operator's press does, after the whole list is checked; the
 * IEEE 488.2 status commands and SCPI's error queue keep their standard meaning. A command
 * error (-1xx) drops the rest of its line; any other error lets the line go on. Each
 * connection has its own error queue and status registers.
 */
class ScpiInstrument : public LineProtocol
{
public:
    static constexpr std::size_t kQueueDepth = 10;

    /** On `panel`, which must outlive it; `instance` is the instance's name for *IDN?. */
    ScpiInstrument(PanelControl &panel, const QString &instance);

    void serve(const QByteArray &line, const Reply &reply) override;
    QByteArray overlong() override;
    QByteArray full() override { return {}; }

    /** Executes one line; its answers with their line end, or nothing when none answered. */
    QByteArray execute(QByteArrayView line);

private:
    struct Channel
    {
        int unit = 0; ///< from 0
        int position = 0; ///< 0..7, A1 first
    };
    using Failure = std::pair<int, QString>; ///< an error's code and its detail

    /** Runs one command; an answer when it is a query that could be answered. */
    std::optional<QByteArray> command(QByteArrayView header, QByteArrayView parameters,
                                      std::vector<QByteArray> &path);
    std::optional<QByteArray> route(int kind, QByteArrayView parameters);
    std::optional<QByteArray> common(QByteArrayView header, QByteArrayView parameters);
    /** The channels of a list "(@111,121:124)", or why not. */
    std::variant<std::vector<Channel>, Failure> channels(QByteArrayView text) const;
    /** Why the shown channels cannot be read or pressed now, or nothing. */
    std::optional<Failure> refusal(const std::vector<Channel> &list, bool pressing) const;
    std::optional<Failure> close(const std::vector<Channel> &list);

    void fail(int code, const QString &detail = {});
    std::uint8_t statusByte() const;

    PanelControl &m_panel;
    QString m_identity;
    std::deque<Failure> m_errors;
    std::uint8_t m_events = 0; ///< the standard event status register
    std::uint8_t m_eventsEnabled = 0;
    std::uint8_t m_serviceEnabled = 0;
    bool m_commandError = false; ///< in the line being executed: the rest is dropped
};
