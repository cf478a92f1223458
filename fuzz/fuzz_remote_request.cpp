// SPDX-License-Identifier: MIT
// Any line a script may send: it is read or refused with a reason, and what is read keeps
// the protocol's ranges; a press by position reads back the same from its short form.

#include "remote/RemoteRequest.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto parsed = RemoteRequest::parse(
        QByteArrayView(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    if (const QString *refusal = std::get_if<QString>(&parsed)) {
        if (refusal->isEmpty())
            std::abort(); // a refusal always says why
        return 0;
    }
    const RemoteRequest &request = std::get<RemoteRequest>(parsed);
    if (request.kind != RemoteRequest::Kind::Press) // a status or a raise names no unit
        return request.unit == 0 ? 0 : (std::abort(), 0);
    if (request.unit < 1 || request.unit > 9 || (request.section != 'A' && request.section != 'B')
        || request.position < 0 || request.position > 4
        || (request.position > 0 && !request.label.isEmpty()))
        std::abort();
    if (request.position > 0) {
        const QByteArray line = "{\"press\":\"" + QByteArray::number(request.unit) + request.section
                                + QByteArray::number(request.position) + "\"}";
        const auto reread = RemoteRequest::parse(line);
        const auto *again = std::get_if<RemoteRequest>(&reread);
        if (!again || again->unit != request.unit || again->section != request.section
            || again->position != request.position)
            std::abort();
    }
    return 0;
}
