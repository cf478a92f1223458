// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

/**
 * What one connection speaks, a line at a time: the scripts' JSON, or SCPI. The server cuts
 * the bytes into lines and keeps the bounds; the protocol serves each line in the GUI thread.
 */
class LineProtocol
{
public:
    /** The bytes to send back for a line, its line end included; empty: nothing. */
    using Reply = std::function<void(const QByteArray &)>;

    virtual ~LineProtocol() = default;
    /** Serves `line` (no line end). Calls `reply` once, before anything that waits for the
        operator (a message box) where it can, so that no script waits on a person. */
    virtual void serve(const QByteArray &line, const Reply &reply) = 0;
    /** Longest line served, without its line end. */
    static constexpr qsizetype kLineLimit = 4096;
    /** What a line longer than the limit gets, once. */
    virtual QByteArray overlong() = 0;
    /** What a connection gets before it is closed, when too many are connected. */
    virtual QByteArray full() = 0;
};
