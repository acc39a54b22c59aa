#include "app/appicon.h"
#include "app/firstframe.h"
#include "app/qmlcontext.h"
#include "app/singleinstance.h"
#include "app/wiring.h"
#include "appidentity.h"
#include "daemon/daemonlauncher.h"
#include "ipc/pipeclient.h"
#include "settings/appsettings.h"
#include "tray/traymanager.h"

#include <QApplication>
#include <QIcon>
#include <QLocalServer>
#include <QMetaObject>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExtensionPlugin>
#include <QQuickWindow>
#include <QTimer>

// The compiled-in interface module (qrc:/qml).
Q_IMPORT_QML_PLUGIN(qmlPlugin)

namespace {

constexpr int kProbeWaitMs = 200;
constexpr int kFirstConnectDelayMs = 200;

void invokeOnRoot(QObject *root, const char *function)
{
    QMetaObject::invokeMethod(root, function);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrix"));
    QApplication::setOrganizationName(QStringLiteral("Kest"));
    // The Wayland app id: the desktop groups the window under the installed entry's icon.
    QApplication::setDesktopFileName(QLatin1String(AppIdentity::kDesktopId));
    // Windows hide to the tray; only an explicit quit ends the process (and,
    // without a tray, closing the window, which goes the same way).
    QApplication::setQuitOnLastWindowClosed(false);
    // icon.png at 256 px (tools/icons): decoding the full 1254 px image took
    // a third of the time to the first frame.
    QApplication::setWindowIcon(iconInSizes(QStringLiteral(":/icon-256.png")));

    const QString instanceName = singleInstanceName();
    if (tellRunningInstanceToShow(instanceName, kProbeWaitMs))
        return 0;

    QLocalServer singleInstance;
    listenAsSingleInstance(singleInstance, instanceName); // without the guard we still run

    const bool minimized = QApplication::arguments().contains(QStringLiteral("--minimized"));

    // Before anything talks to the daemon: start it if its service is not up.
    DaemonLauncher launcher;
    launcher.ensureDaemonRunning();

    PipeClient pipeClient;
    TrayManager trayManager; // the tray icon is on screen from here on
    AppSettings appSettings;

    // Undone before the objects it joins are destroyed.
    Wiring wiring(app, pipeClient, trayManager, appSettings);
    wiring.connectCore();
    // The daemon is applying an update: leave the relauncher behind and go.
    QObject::connect(&pipeClient, &PipeClient::restartConfirmed, &app, [&app] {
        DaemonLauncher::scheduleRelaunch();
        app.quit();
    });

    // The engine is the last local, so it is destroyed first and no QML object
    // outlives the objects it binds to.
    QQmlApplicationEngine engine;
    publishCoreObjects(engine.rootContext(), &pipeClient, &trayManager, &appSettings);
    // Started in the tray, the window's screens wait until it is first shown.
    engine.setInitialProperties({{QStringLiteral("deferContent"), minimized}});
    engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
    if (engine.rootObjects().isEmpty())
        return -1;

    QObject *root = engine.rootObjects().constFirst();
    reportFirstFrameWhenAsked(qobject_cast<QQuickWindow *>(root));
    if (!minimized)
        invokeOnRoot(root, "showAndRaise");
    else if (!trayManager.trayAvailable())
        invokeOnRoot(root, "showMinimized"); // no tray to wait in: the taskbar instead

    wiring.connectInterface(root, &singleInstance);

    QTimer::singleShot(kFirstConnectDelayMs, Qt::PreciseTimer, &pipeClient,
                       &PipeClient::connectToPipe);

    return app.exec();
}
