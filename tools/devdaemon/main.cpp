#include "daemonoptions.h"
#include "devdaemon.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>

// The development daemon: never installed, never to be confused with the
// product's daemon. See README.md, "Development daemon".
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrix-daemon"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRIX_DEVDAEMON_VERSION));
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN); // a client that vanishes mid-write is not our death
#endif

    QTextStream err(stderr);
    DaemonOptions options;
    QString error;
    QString help;
    if (!parseDaemonOptions(QCoreApplication::arguments(), &options, &error, &help)) {
        err << "kestrix-daemon: " << error << "\n";
        return 2;
    }
    if (!help.isEmpty()) {
        QTextStream(stdout) << help;
        return 0;
    }

    DevDaemon daemon(options);
    QObject::connect(&daemon, &DevDaemon::finished, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    if (!daemon.start(&error)) {
        err << "kestrix-daemon: " << error << "\n";
        return 1;
    }
    err << "kestrix-daemon (development) serving " << options.socketName << "\n";
    err.flush();
    return app.exec();
}
