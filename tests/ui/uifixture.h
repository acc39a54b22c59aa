#pragma once

#include "app/qmlcontext.h"
#include "ipc/pipeclient.h"
#include "settings/appsettings.h"
#include "tray/traymanager.h"

#include "fakedaemon.h"
#include "quickitems.h"
#include "uitestmain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The compiled-in interface module (qrc:/qml).
Q_IMPORT_QML_PLUGIN(qmlPlugin)

// The whole interface as the application builds it: the real PipeClient,
// TrayManager and AppSettings published to qrc:/qml/main.qml, with a fake
// daemon on a private pipe.
struct UiShell
{
    FakeDaemon daemon;
    PipeClient pipe;
    TrayManager tray;
    AppSettings settings;
    // Last, so that it goes first and no QML object outlives what it binds to.
    QQmlApplicationEngine engine;
    QQuickWindow *window = nullptr;

    // Loads the interface, connects the pipe and, unless told otherwise,
    // reports a signed-in user with the VPN down.
    bool start(bool signedIn = true)
    {
        // The store is shared by every test of the process: start each one
        // from the same preferences.
        settings.setLanguage(QStringLiteral("en"));
        settings.setDarkTheme(true);
        settings.setWhitelist(false);
        settings.setGames(false);

        // As on a desktop with a tray, whatever the platform says; a test
        // about the window without one takes it away.
        tray.setTrayProbe([] { return true; });

        if (!daemon.listen())
            return false;
        publishCoreObjects(engine.rootContext(), &pipe, &tray, &settings);
        engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
        if (engine.rootObjects().isEmpty())
            return false;
        window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
        if (!window)
            return false;

        if (!daemon.connectClient(pipe))
            return false;
        if (signedIn && !deliver(status("disconnected")))
            return false;
        // The first screen is made off the first frames; later ones at once.
        return QTest::qWaitFor([&] { return screenItem() != nullptr; });
    }

    // Shows the window and waits until it can take input.
    bool show()
    {
        QMetaObject::invokeMethod(window, "showAndRaise");
        return QTest::qWaitForWindowExposed(window);
    }

    // A "status" event for the given state of a signed-in user; `extra`
    // holds further fields, each with a leading comma.
    static QByteArray status(const QByteArray &state, const QByteArray &extra = {})
    {
        return "{\"type\":\"status\",\"authenticated\":true,\"status\":\"" + state + '"' + extra +
               '}';
    }

    // Sends the event lines and waits until the client has handled all of them.
    bool deliver(const QList<QByteArray> &lines) { return daemon.deliver(pipe, lines); }
    bool deliver(const QByteArray &line) { return deliver(QList<QByteArray>{line}); }

    // Waits until the client has written this exact command line.
    bool waitForCommand(const QByteArray &line, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return daemon.lines().contains(line); }, timeoutMs);
    }

    // The first item of the window's visual tree with this object name; a
    // missing one fails the test, naming it (see requireItem).
    QQuickItem *item(const QString &name, const char *file = __builtin_FILE(),
                     int line = __builtin_LINE()) const
    {
        return requireItem(window->contentItem(), name, file, line);
    }

    // The screen instance the content area shows.
    QQuickItem *screenItem() const
    {
        QQuickItem *content = findItem(window->contentItem(), QStringLiteral("content"));
        return content ? content->property("item").value<QQuickItem *>() : nullptr;
    }
    QString screenName() const
    {
        QQuickItem *screen = screenItem();
        return screen ? screen->objectName() : QString();
    }

    // Whether the item and every ancestor are visible (what the user sees).
    static bool shown(const QQuickItem *it) { return ::shown(it); }

    // A left click in the middle of the item, as the user would make it.
    void click(QQuickItem *target, const char *file = __builtin_FILE(), int line = __builtin_LINE())
    {
        clickItem(window, target, file, line);
    }
};
