#include "daemonoptions.h"

#include "ipc/pipeendpoint.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace {

// Seconds as given on the command line ("2", "0.5") to whole milliseconds.
bool secondsToMs(const QString &text, int *ms)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 86400)
        return false;
    *ms = int(std::lround(seconds * 1000));
    return true;
}

} // namespace

bool parseDaemonOptions(const QStringList &arguments, DaemonOptions *options, QString *error,
                        QString *helpText)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Kestrix development daemon: a stand-in for the real daemon that "
                       "serves the pipe protocol for development, demos and tests."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption socket(QStringLiteral("socket"),
                                    QStringLiteral("Serve this endpoint instead of the one the "
                                                   "client resolves ($KESTRIX_PIPE)."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption foreground(QStringLiteral("foreground"),
                                        QStringLiteral("Run in the foreground (always the case)."));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Append every received line to FILE."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption script(QStringLiteral("script"),
                                    QStringLiteral("Play timed events from FILE: one JSON object "
                                                   "a line, {\"delay_ms\":N,\"event\":{...}} or "
                                                   "{\"delay_ms\":N,\"raw\":\"text\"}."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption state(QStringLiteral("state"),
                                   QStringLiteral("Keep sign-in and kill switch in FILE "
                                                  "(default: $PROGRAMDATA/Kestrix/"
                                                  "devdaemon-state.json when PROGRAMDATA is set)."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption autoLogin(QStringLiteral("auto-login"),
                                       QStringLiteral("Approve a sign-in by itself after SECONDS."),
                                       QStringLiteral("SECONDS"));
    const QCommandLineOption dropEvery(QStringLiteral("drop-every"),
                                       QStringLiteral("Drop a live tunnel every SECONDS and "
                                                      "reconnect."),
                                       QStringLiteral("SECONDS"));
    const QCommandLineOption failConnect(QStringLiteral("fail-connect"),
                                         QStringLiteral("End connects in \"failed\" with TEXT."),
                                         QStringLiteral("TEXT"));
    const QCommandLineOption failCount(QStringLiteral("fail-count"),
                                       QStringLiteral("With --fail-connect, fail only the first N "
                                                      "connects (default: all)."),
                                       QStringLiteral("N"));
    const QCommandLineOption offerUpdate(QStringLiteral("offer-update"),
                                         QStringLiteral("Offer an update to VERSION."),
                                         QStringLiteral("VERSION"));
    const QCommandLineOption connectDelay(QStringLiteral("connect-delay"),
                                          QStringLiteral("Time a connect takes (default 1.2)."),
                                          QStringLiteral("SECONDS"));
    const QCommandLineOption maxClients(
        QStringLiteral("max-clients"),
        QStringLiteral("Serve at most N clients at once (default 16)."), QStringLiteral("N"));
    const QCommandLineOption handshakeTimeout(
        QStringLiteral("handshake-timeout"),
        QStringLiteral("Drop a client that has not sent its handshake after SECONDS (default 5)."),
        QStringLiteral("SECONDS"));
    parser.addOptions({socket, foreground, log, script, state, autoLogin, dropEvery, failConnect,
                       failCount, offerUpdate, connectDelay, maxClients, handshakeTimeout});

    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(help)) {
        *helpText = parser.helpText();
        return true;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error =
            QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return false;
    }

    options->socketName = parser.isSet(socket) ? parser.value(socket) : PipeEndpoint::serverName();
    options->logPath = parser.value(log);
    options->scriptPath = parser.value(script);
    if (parser.isSet(state)) {
        options->statePath = parser.value(state);
    } else if (const QString tokenFile = PipeEndpoint::tokenFilePath(); !tokenFile.isEmpty()) {
        options->statePath =
            QFileInfo(tokenFile).dir().filePath(QStringLiteral("devdaemon-state.json"));
    }

    const auto seconds = [&](const QCommandLineOption &option, int *ms) {
        if (!parser.isSet(option))
            return true;
        if (secondsToMs(parser.value(option), ms))
            return true;
        *error = QStringLiteral("--%1 wants a number of seconds, not \"%2\"")
                     .arg(option.names().constFirst(), parser.value(option));
        return false;
    };
    if (!seconds(autoLogin, &options->autoLoginMs) || !seconds(dropEvery, &options->dropEveryMs) ||
        !seconds(connectDelay, &options->connectDelayMs) ||
        !seconds(handshakeTimeout, &options->handshakeTimeoutMs))
        return false;
    for (const auto &[option, ms] : {std::pair{dropEvery, options->dropEveryMs},
                                     std::pair{handshakeTimeout, options->handshakeTimeoutMs}}) {
        if (parser.isSet(option) && ms == 0) {
            *error =
                QStringLiteral("--%1 wants more than 0 seconds").arg(option.names().constFirst());
            return false;
        }
    }

    options->failConnectText = parser.value(failConnect);
    const auto count = [&](const QCommandLineOption &option, int least, int *value) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        if (ok && *value >= least)
            return true;
        *error = QStringLiteral("--%1 wants a whole number from %2, not \"%3\"")
                     .arg(option.names().constFirst())
                     .arg(least)
                     .arg(parser.value(option));
        return false;
    };
    if (!count(failCount, 0, &options->failCount) || !count(maxClients, 1, &options->maxClients))
        return false;
    options->offerUpdateVersion = parser.value(offerUpdate);
    return true;
}
