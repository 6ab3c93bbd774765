#include "daemonoptions.h"

#include "config/switcherconfigcompletion.h"
#include "config/switcherconfigreader.h"
#include "config/usageline.h"
#include "config/valueparsers.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

DaemonExit refuse(const QString& text)
{
    return {2, text};
}

} // namespace

std::variant<DaemonOptions, DaemonExit> parseDaemonArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Owns the serial line of a 4x4 HDMI matrix switcher, keeps its state, shares it through\n"
        "virtual ports, publishes it over MQTT, serves router control clients and a web page."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Read the configuration from FILE."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The switcher's port: COM1-COM10 or a device "
                                                 "path."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption share(QStringLiteral("share"),
                                   QStringLiteral("Link a virtual port at PATH (repeatable)."),
                                   QStringLiteral("PATH"));
    const QCommandLineOption poll(QStringLiteral("poll"),
                                  QStringLiteral("Poll every S seconds, 0 never (default 5)."),
                                  QStringLiteral("S"));
    const QCommandLineOption mqtt(QStringLiteral("mqtt"),
                                  QStringLiteral("Publish to the MQTT broker at HOST[:PORT]."),
                                  QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption videohub(
        QStringLiteral("videohub"),
        QStringLiteral("Serve router control clients (Videohub protocol) at HOST[:PORT]."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption http(QStringLiteral("http"),
                                  QStringLiteral("Serve the web page and HTTP API at HOST[:PORT]."),
                                  QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Print the effective configuration and exit."));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Log the traffic on the line too."));
    parser.addOptions({help, config, port, share, poll, mqtt, videohub, http, check, trace});
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help)) {
        return DaemonExit{0, helpNamingProgram(parser, QStringLiteral("matrixd"))};
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    DaemonOptions options;
    if (parser.isSet(config)) {
        auto loaded = loadSwitcherConfig(parser.value(config));
        if (auto* error = std::get_if<ConfigError>(&loaded))
            return refuse(error->text);
        options.config = std::get<SwitcherConfig>(std::move(loaded));
    }
    SwitcherConfig& c = options.config;
    if (parser.isSet(port))
        c.port = parser.value(port);
    for (const QString& path : parser.values(share)) {
        if (c.shares.contains(path))
            return refuse(QStringLiteral("share %1 is given twice").arg(path));
        c.shares.append(path);
    }
    if (parser.isSet(poll)) {
        const auto every = parsePollSeconds(parser.value(poll));
        if (!every)
            return refuse(QStringLiteral("--poll takes seconds such as 5 or 0.5, not \"%1\"")
                              .arg(parser.value(poll)));
        c.poll = *every;
    }
    if (parser.isSet(mqtt)) {
        static const QRegularExpression hostPort(QStringLiteral("^([^:\\s]+)(?::([0-9]{1,5}))?$"));
        const auto match = hostPort.match(parser.value(mqtt));
        const int number = match.captured(2).isEmpty() ? kDefaultMqttPort : match.captured(2).toInt();
        if (!match.hasMatch() || number < 1 || number > 65535)
            return refuse(QStringLiteral("--mqtt takes HOST[:PORT], not \"%1\"").arg(parser.value(mqtt)));
        if (!c.mqtt)
            c.mqtt = MqttSettings{};
        c.mqtt->host = match.captured(1);
        c.mqtt->port = number;
    }
    if (parser.isSet(videohub)) {
        const auto listen = parseListenAddress(parser.value(videohub));
        if (!listen)
            return refuse(QStringLiteral("--videohub takes HOST[:PORT], not \"%1\"")
                              .arg(parser.value(videohub)));
        if (!c.videohub)
            c.videohub = VideohubSettings{};
        c.videohub->listen = *listen;
        c.videohub->listenLine = 0;
    }
    if (parser.isSet(http)) {
        const auto listen = parseHttpListen(parser.value(http));
        if (!listen)
            return refuse(QStringLiteral("--http takes HOST[:PORT], not \"%1\"").arg(parser.value(http)));
        c.http = c.http.value_or(HttpSettings{});
        c.http->listen = *listen;
        c.http->listenLine = 0;
    }
    if (auto error = completeSwitcherConfig(c))
        return refuse(error->text);
    if (!parsePortName(c.port))
        return refuse(QStringLiteral("%1port is COM1 to COM10 or a device path, not \"%2\"")
                          .arg(c.file.isEmpty() ? QString() : c.file + QStringLiteral(": "), c.port));
    options.check = parser.isSet(check);
    options.trace = parser.isSet(trace);
    return options;
}
