// SPDX-License-Identifier: MIT
#pragma once

#include "LineProtocol.h"

#include <QByteArrayView>
#include <QString>

#include <variant>

/**
 * One request of a script, as read from its line: a press of a position, by its number
 * ({"press": "1A3"}) or by its label ({"unit": 1, "section": "A", "label": "Cal"}), the
 * panel's status ({"status": true}), or its window to the front ({"raise": true}: a second
 * start of the instance asks for it, since only a program may raise its own window).
 */
struct RemoteRequest
{
    enum class Kind { Press, Status, Raise };
    Kind kind = Kind::Status;
    int unit = 0; ///< as the script wrote it, counted from 1
    char section = 'A'; ///< 'A' or 'B'
    int position = 0; ///< 1..4, or 0 for a press by label
    QString label;

    /** Longest line taken, without its newline: the server's for every protocol. */
    static constexpr qsizetype kLineLimit = LineProtocol::kLineLimit;

    /** The request in `line` (UTF-8 JSON, no newline), or why it is refused. */
    static std::variant<RemoteRequest, QString> parse(QByteArrayView line);
};
