#include "daemonoptions.h"

#include "config/configplace.h"
#include "config/switcherconfigcompletion.h"
#include "config/switcherconfigreader.h"
#include "config/usageline.h"
#include "config/valueparsers.h"
#include "posix/pseudoterminal.h"
#include "serial/portnames.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

DaemonExit refuse(const QString& text)
{
    return {2, text};
}

// Where a path is once the links of its folders are resolved; the last part stays as named,
// since a share's own name may be a link that matrixd replaces.
QString placeOf(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + u'/' + info.fileName();
}

QString linkTarget(const QString& link)
{
    char target[4096];
    const ssize_t n = ::readlink(QFile::encodeName(link).constData(), target, sizeof target);
    if (n <= 0 || std::size_t(n) >= sizeof target)
        return {};
    const QString text = QFile::decodeName(QByteArray(target, n));
    return QDir::isAbsolutePath(text) ? text : QFileInfo(link).absolutePath() + u'/' + text;
}

// Every place the port passes through on the way to its device: COM<n> as ./COM<n> (which a
// share there would become), then each link's target. A share at any of them takes the line.
QStringList portPlaces(const PortName& port)
{
    constexpr int kMostLinks = 40; // as the kernel follows them
    QString path = port.number > 0 ? QDir::current().absoluteFilePath(portLabel(port.number))
                                   : port.devicePath;
    QStringList places;
    for (int hop = 0; hop < kMostLinks && !path.isEmpty(); ++hop) {
        places << placeOf(path);
        path = QFileInfo(path).isSymLink() ? linkTarget(path) : QString();
    }
    return places;
}

// The same directory entry, by device and inode, where both exist: one link seen through a
// bind mount or a hard-linked name. lstat: the links themselves, not where they lead, since a
// stale share link may lead to a pseudo-terminal number the switcher's line has now.
bool isSameEntry(const QString& a, const QString& b)
{
    struct stat first {};
    struct stat second {};
    return ::lstat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::lstat(QFile::encodeName(b).constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// What a start finds wrong with the shares before it links any (so that --check finds it too),
// and a share that would stand in for the switcher's own port.
QString shareProblem(const SwitcherConfig& config, const PortName& port)
{
    const QStringList portPath = portPlaces(port);
    QStringList seen;
    for (qsizetype i = 0; i < config.shares.size(); ++i) {
        const QString& share = config.shares.at(i);
        const int line = i < config.shareLines.size() ? config.shareLines.at(i) : 0;
        const QString at = configPlace(config.file, line);
        const QString place = placeOf(share);
        if (const qsizetype other = seen.indexOf(place); other >= 0)
            return at + QStringLiteral("share %1 is the same place as share %2")
                            .arg(share, config.shares.at(other));
        seen << place;
        const bool isPort = std::any_of(portPath.begin(), portPath.end(), [&](const QString& p) {
            return p == place || isSameEntry(p, share);
        });
        if (isPort)
            return at + QStringLiteral("share %1 is the switcher's port %2; a share needs a "
                                       "path of its own")
                            .arg(share, port.label());
        QString why;
        if (!PseudoTerminal::mayLinkAt(share, why))
            return at + why;
        const QFileInfo folder(QFileInfo(share).absolutePath());
        if (!folder.isDir())
            return at +
                   QStringLiteral("cannot link %1: no folder %2").arg(share, folder.filePath());
        if (::access(QFile::encodeName(folder.filePath()).constData(), W_OK | X_OK) != 0)
            return at + QStringLiteral("cannot link %1: no permission to write in %2")
                            .arg(share, folder.filePath());
    }
    if (!config.shares.isEmpty() && !config.shareGroup.isEmpty() &&
        !::getgrnam(config.shareGroup.toLocal8Bit().constData()))
        return configPlace(config.file, config.shareGroupLine) +
               QStringLiteral("no group %1").arg(config.shareGroup);
    return {};
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
        const auto listen = parseListenAddress(parser.value(videohub), kDefaultVideohubPort);
        if (!listen)
            return refuse(QStringLiteral("--videohub takes HOST[:PORT], not \"%1\"")
                              .arg(parser.value(videohub)));
        if (!c.videohub)
            c.videohub = VideohubSettings{};
        c.videohub->listen = *listen;
        c.videohub->listenLine = 0;
    }
    if (parser.isSet(http)) {
        const auto listen = parseListenAddress(parser.value(http), kDefaultHttpPort);
        if (!listen)
            return refuse(QStringLiteral("--http takes HOST[:PORT], not \"%1\"").arg(parser.value(http)));
        c.http = c.http.value_or(HttpSettings{});
        c.http->listen = *listen;
        c.http->listenLine = 0;
    }
    if (auto error = completeSwitcherConfig(c))
        return refuse(error->text);
    const auto target = parsePortName(c.port);
    if (!target)
        return refuse(
            QStringLiteral("%1port is COM1 to COM10 or a device path, not \"%2\"")
                .arg(c.file.isEmpty() ? QString() : c.file + QStringLiteral(": "), c.port));
    if (const QString problem = shareProblem(c, *target); !problem.isEmpty())
        return refuse(problem);
    options.check = parser.isSet(check);
    options.trace = parser.isSet(trace);
    return options;
}
