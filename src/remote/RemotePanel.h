// SPDX-License-Identifier: MIT
#pragma once

#include "RemoteRequest.h"

#include <QJsonObject>

#include <functional>

/** What serves the scripts' requests: the main window. */
class RemotePanel
{
public:
    using Answer = std::function<void(const QJsonObject &)>;
    virtual ~RemotePanel() = default;
    /** Serves one request in the GUI thread. Calls `answer` once, before anything that waits
        for the operator (a message box), so that no script waits on a person. */
    virtual void serve(const RemoteRequest &request, const Answer &answer) = 0;

    /** The answer to a request that is refused: nothing was done, for `reason`. */
    static QJsonObject refusal(const QString &reason)
    {
        return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), reason}};
    }
};
