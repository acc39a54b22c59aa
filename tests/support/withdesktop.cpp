#include "helperprocess.h"
#include "testdesktop.h"

#include <QCoreApplication>
#include <QTextStream>

// Runs a command on a private desktop of its own (testdesktop.h) with the
// xcb platform; with --tray, a system tray runs on it and the command sees
// KESTRIX_EXPECT_TRAY=1. Exits with the command's exit code, 77 (skipped)
// when a program the desktop needs is missing, 1 when the desktop does not
// start or the command crashes. Whatever way this ends, the kernel ends the
// server, the tray and the command with it.
// Usage: kestrix_with_desktop [--tray] <command> [arguments...]
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QTextStream err(stderr);
    const bool withTray = !args.isEmpty() && args.constFirst() == QLatin1String("--tray");
    if (withTray)
        args.removeFirst();
    if (args.isEmpty()) {
        err << "usage: kestrix_with_desktop [--tray] <command> [arguments...]\n";
        return 2;
    }

    TestDesktop desktop;
    QString error;
    switch (desktop.start(withTray, &error)) {
    case TestDesktop::Result::Started:
        break;
    case TestDesktop::Result::Missing:
        err << "SKIP   : " << error << '\n';
        return 77;
    case TestDesktop::Result::Failed:
        err << "FAIL!  : " << error << '\n';
        return 1;
    }

    QProcess command;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), desktop.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    if (withTray)
        env.insert(QStringLiteral("KESTRIX_EXPECT_TRAY"), QStringLiteral("1"));
    else
        env.remove(QStringLiteral("KESTRIX_EXPECT_TRAY"));
    command.setProcessEnvironment(env);
    command.setProcessChannelMode(QProcess::ForwardedChannels);
    command.setInputChannelMode(QProcess::ForwardedInputChannel);
    dieWithTest(command);
    command.start(args.takeFirst(), args);
    if (!command.waitForStarted(-1)) {
        err << "FAIL!  : " << command.program() << ": " << command.errorString() << '\n';
        return 1;
    }
    command.waitForFinished(-1);
    if (command.exitStatus() == QProcess::CrashExit) {
        err << "FAIL!  : " << command.program() << " crashed\n";
        return 1;
    }
    return command.exitCode();
}
