// SPDX-License-Identifier: MIT
#include "SwitchTool.h"

#include "RemoteRequest.h"
#include "RemoteServer.h"
#include "ScriptClient.h"
#include "settings/SystemRegistry.h"
#include "tools/SettingsTool.h"
#include "tools/ToolText.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <climits>
#include <cmath>
#include <optional>

namespace SwitchTool {

namespace {

/** The request line of one PRESS argument, or why it is not one. */
std::variant<QByteArray, QString> pressLine(const std::string &arg)
{
    QJsonObject request {{QStringLiteral("press"), QString::fromLocal8Bit(arg)}};
    if (arg.size() >= 3 && arg[2] == '=') { // by label: "1A=Cal"
        request = {{QStringLiteral("unit"), arg[0] >= '1' && arg[0] <= '9' ? arg[0] - '0' : 0},
                   {QStringLiteral("section"), QString(QLatin1Char(arg[1]))},
                   {QStringLiteral("label"), QString::fromLocal8Bit(arg.substr(3))}};
    }
    QByteArray line = QJsonDocument(request).toJson(QJsonDocument::Compact);
    if (const auto parsed = RemoteRequest::parse(line); std::holds_alternative<QString>(parsed))
        return std::get<QString>(parsed);
    return line;
}

/** Seconds as milliseconds, when they are a number above 0. */
std::optional<int> milliseconds(const std::string &text)
{
    double seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || !(seconds > 0))
        return std::nullopt;
    return static_cast<int>(std::min(std::ceil(seconds * 1000), double(INT_MAX)));
}

} // namespace

int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const auto usage = [&err](const std::string &what) {
        err << "selvane-switch: " << what << '\n' << kUsageText;
        return kUsage;
    };
    std::string instance;
    int timeout = 10'000;
    bool status = false;
    bool socketName = false;
    bool options = true;
    std::vector<QByteArray> requests;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        const bool last = i + 1 == args.size();
        if (options && (arg == "--help" || arg == "-h" || arg == "--version")) {
            out << (arg == "--version" ? ToolText::version("selvane-switch") : kUsageText);
            return kDone;
        }
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--status") {
            status = true;
        } else if (options && arg == "--socket") {
            socketName = true;
        } else if (options && arg == "--instance") {
            if (last)
                return usage("--instance needs a name");
            instance = args[++i];
        } else if (options && arg == "--timeout") {
            const std::optional<int> ms = last ? std::nullopt : milliseconds(args[++i]);
            if (!ms)
                return usage("--timeout needs a number of seconds above 0");
            timeout = *ms;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            return usage("unexpected option '" + arg + "'");
        } else if (const auto line = pressLine(arg); std::holds_alternative<QString>(line)) {
            return usage("'" + arg + "' is no press: " + std::get<QString>(line).toStdString());
        } else {
            requests.push_back(std::get<QByteArray>(line));
        }
    }
    if (int(status) + int(socketName) + int(!requests.empty()) != 1)
        return usage("give presses, --status or --socket");
    if (status)
        requests.push_back(R"({"status":true})");

    const QString name =
        RemoteServer::panelOf(openSystemRegistry()->location(), SettingsTool::contextOf(instance));
    const std::string panel = instance.empty() ? "the panel" : "the panel '" + instance + "'";
    if (socketName) {
        out << name.toStdString() << '\n';
        return kDone;
    }
    ScriptClient client;
    switch (client.connect(name, QDeadlineTimer(timeout))) {
    case ScriptClient::Outcome::Done:
        break;
    case ScriptClient::Outcome::Late:
        err << "selvane-switch: " << panel << " did not answer in time\n";
        return kNoAnswer;
    case ScriptClient::Outcome::Untrusted:
        err << "selvane-switch: " << panel << " cannot be trusted: " << client.why().toStdString()
            << "; nothing was sent\n";
        return kNoPanel;
    default:
        err << "selvane-switch: " << panel << " is not running: " << client.why().toStdString()
            << '\n';
        return kNoPanel;
    }
    for (const QByteArray &request : requests) {
        QByteArray answer;
        if (const auto outcome = client.ask(request, QDeadlineTimer(timeout), &answer);
            outcome != ScriptClient::Outcome::Done) {
            const std::string closed = "closed the connection before it answered";
            const std::string why = client.why().toStdString();
            err << "selvane-switch: " << panel
                << (outcome == ScriptClient::Outcome::Late ? std::string(" did not answer in time")
                    : why.ends_with(closed)                ? ' ' + closed
                                                           : " gave no answer: " + why)
                << '\n';
            return kNoAnswer;
        }
        out << answer.toStdString() << '\n' << std::flush;
        if (QJsonDocument::fromJson(answer).object().value(QLatin1String("ok")) != QJsonValue(true))
            return kRefused;
    }
    return kDone;
}

} // namespace SwitchTool
