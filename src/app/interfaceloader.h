#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QQmlApplicationEngine;

// Owns the QML engine and makes the interface when it is first needed. A
// start in the tray makes nothing: the engine, the window and with it the
// scene graph (and the GL driver it probes for) wait until someone asks to
// see the window or the tray popup.
class InterfaceLoader
{
public:
    // Called with the engine before the interface is loaded (context objects),
    // and with the root window once it exists (connections to it).
    using Prepare = std::function<void(QQmlApplicationEngine &engine)>;
    using Loaded = std::function<void(QObject *root)>;

    InterfaceLoader(QString url, Prepare prepare, Loaded loaded);
    ~InterfaceLoader();
    InterfaceLoader(const InterfaceLoader &) = delete;
    InterfaceLoader &operator=(const InterfaceLoader &) = delete;

    // The root window, loading the interface first if it is not there yet;
    // null when the interface could not be loaded.
    QObject *root();
    bool isLoaded() const { return m_root != nullptr; }

private:
    QString m_url;
    Prepare m_prepare;
    Loaded m_loaded;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QObject *m_root = nullptr;
};
