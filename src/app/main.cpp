#include "app/appicon.h"
#include "app/deferredstartup.h"
#include "app/firstframe.h"
#include "app/interfaceloader.h"
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
#include <QLocalSocket>
#include <QMetaObject>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExtensionPlugin>
#include <QQuickWindow>
#include <QTimer>

#include <functional>
#include <memory>

#ifndef Q_OS_WIN
#include "app/quitsignals_unix.h"
#include "tray/sessionbus.h"
#endif

// The compiled-in interface module (qrc:/qml).
Q_IMPORT_QML_PLUGIN(qmlPlugin)

namespace {

constexpr int kProbeWaitMs = 200;
constexpr int kFirstConnectDelayMs = 200;
// Without a first frame (a window the platform never exposes) the deferred
// start-up work still runs.
constexpr int kDeferredStartupFallbackMs = 1000;

void invokeOnRoot(QObject *root, const char *function)
{
    QMetaObject::invokeMethod(root, function);
}

// Until the interface exists, the requests that need it make it and are then
// handed on; once it is there, the wiring and the window's own connections
// take them, and these are undone.
void loadOnFirstRequest(InterfaceLoader &interface, TrayManager &tray, QLocalServer &singleInstance)
{
    auto connections = std::make_shared<QList<QMetaObject::Connection>>();
    const auto withRoot = [&interface, connections](const std::function<void(QObject *)> &use) {
        for (const QMetaObject::Connection &connection : std::as_const(*connections))
            QObject::disconnect(connection);
        if (QObject *root = interface.root())
            use(root);
        else
            QCoreApplication::exit(-1); // the interface is part of the program: it is broken
    };
    const auto show = [](QObject *root) { invokeOnRoot(root, "showAndRaise"); };

    *connections << QObject::connect(&tray, &TrayManager::showRequested, &tray,
                                     [withRoot, show] { withRoot(show); });
    // Hidden until now, so a toggle shows.
    *connections << QObject::connect(&tray, &TrayManager::toggleWindowRequested, &tray,
                                     [withRoot, show] { withRoot(show); });
    *connections << QObject::connect(
        &tray, &TrayManager::popupRequested, &tray, [withRoot](int anchorX, int anchorY) {
            withRoot([anchorX, anchorY](QObject *root) {
                QMetaObject::invokeMethod(root, "togglePopup", Q_ARG(QVariant, anchorX),
                                          Q_ARG(QVariant, anchorY));
            });
        });
    // No tray after all (the session bus answers after the start), or the
    // tray went away: the taskbar instead, until a tray comes.
    *connections << QObject::connect(
        &tray, &TrayManager::trayAvailableChanged, &tray, [&tray, withRoot] {
            if (tray.trayKnown() && !tray.trayAvailable())
                withRoot([](QObject *root) { invokeOnRoot(root, "showMinimizedForTray"); });
        });
    *connections << QObject::connect(
        &singleInstance, &QLocalServer::newConnection, &tray, [&singleInstance, withRoot, show] {
            // Never read: any connection means "show".
            while (QLocalSocket *peer = singleInstance.nextPendingConnection())
                peer->deleteLater();
            withRoot(show);
        });
}

} // namespace

int main(int argc, char *argv[])
{
#ifndef Q_OS_WIN
    // Before Qt asks for the session bus: without one, nothing may start one.
    SessionBus::preventAutolaunch();
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrix"));
    QApplication::setOrganizationName(QStringLiteral("Kest"));
    // The Wayland app id: the desktop groups the window under the installed entry's icon.
    QApplication::setDesktopFileName(QLatin1String(AppIdentity::kDesktopId));
    // Windows hide to the tray; only an explicit quit ends the process (and,
    // without a tray, closing the window, which goes the same way).
    QApplication::setQuitOnLastWindowClosed(false);
    const QString instanceName = singleInstanceName();
    if (tellRunningInstanceToShow(instanceName, kProbeWaitMs))
        return 0;

    QLocalServer singleInstance;
    listenAsSingleInstance(singleInstance, instanceName); // without the guard we still run
#ifndef Q_OS_WIN
    quitOnTerminationSignals(app);
#endif

    const bool minimized = QApplication::arguments().contains(QStringLiteral("--minimized"));

    DaemonLauncher launcher;
    PipeClient pipeClient;
    TrayManager trayManager(TrayManager::IconTiming::OnShowIcon);
    AppSettings appSettings;

    // Undone before the objects it joins are destroyed.
    Wiring wiring(app, pipeClient, trayManager, appSettings);
    wiring.connectCore();
    // The daemon is applying an update: leave the relauncher behind and go.
    QObject::connect(&pipeClient, &PipeClient::restartConfirmed, &app, [&app] {
        DaemonLauncher::scheduleRelaunch();
        app.quit();
    });

    // Declared after the objects it binds to, so it is destroyed before them
    // and no QML object outlives them.
    InterfaceLoader interface(
        QStringLiteral("qrc:/qml/main.qml"),
        [&](QQmlApplicationEngine &engine) {
            publishCoreObjects(engine.rootContext(), &pipeClient, &trayManager, &appSettings);
            // A shown start draws the window's first frame before its screen.
            engine.setInitialProperties({{QStringLiteral("holdScreen"), !minimized}});
        },
        [&](QObject *root) {
            reportFirstFrameWhenAsked(qobject_cast<QQuickWindow *>(root));
            wiring.connectInterface(root, &singleInstance);
        });

    // What a window being shown need not wait for; a start in the tray does it at once.
    DeferredStartup deferred([&] {
        // The first screen of a shown start, held back for the first frame.
        if (interface.isLoaded())
            interface.root()->setProperty("holdScreen", false);
        // icon.png at 256 px (tools/icons): decoding the full 1254 px image took
        // a third of the time to the first frame. The tray icon is drawn from it.
        QApplication::setWindowIcon(iconInSizes(QStringLiteral(":/icon-256.png")));
        trayManager.showIcon();
        // Start the daemon if its service is not up (asked off this thread; the
        // pipe client retries until the daemon answers).
        launcher.ensureDaemonRunning();
    });

    if (!minimized) {
        if (!interface.root())
            return -1;
        auto *window = qobject_cast<QQuickWindow *>(interface.root());
        invokeOnRoot(window, "showAndRaise");
        deferred.runAfterFirstFrame(window, kDeferredStartupFallbackMs);
    } else {
        deferred.runNow(); // the tray is looked for from here on
        if (trayManager.trayKnown() && !trayManager.trayAvailable()) {
            if (!interface.root())
                return -1;
            // No tray to wait in: the taskbar instead, until one comes.
            invokeOnRoot(interface.root(), "showMinimizedForTray");
        } else {
            // In the tray (or, until the session bus has said, perhaps in
            // it): the first request to see something makes the interface.
            loadOnFirstRequest(interface, trayManager, singleInstance);
        }
    }

    QTimer::singleShot(kFirstConnectDelayMs, Qt::PreciseTimer, &pipeClient, [&] {
        deferred.runNow(); // the daemon is under way before it is spoken to
        pipeClient.connectToPipe();
    });

    return app.exec();
}
