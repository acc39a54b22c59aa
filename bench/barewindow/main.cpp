// The baseline of bench/compare-startup: a bare Qt Quick window (QGuiApplication,
// one Window with a Rectangle and a Text, QML compiled ahead of time).
//   barewindow                      show the window
//   barewindow --hide-after-frame   show it, hide it once drawn
//   barewindow --minimized          never show it
#include "app/firstframe.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/Main.qml")));
    auto *window = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    if (!window)
        return -1;
    reportFirstFrameWhenAsked(window);
    if (args.contains(QStringLiteral("--hide-after-frame")))
        QObject::connect(window, &QQuickWindow::frameSwapped, window, &QWindow::hide,
                         Qt::QueuedConnection);
    if (!args.contains(QStringLiteral("--minimized")))
        window->show();
    return app.exec();
}
