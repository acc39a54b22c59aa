#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

// The interface's only way to hand a sign-in URL to the browser: what is
// opened is the form LoginUrl::openable checked, never the daemon's text.
class LoginUrlOpener : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(LoginUrl)
    QML_SINGLETON

public:
    using QObject::QObject;

    // Opens the checked form of text in the default browser. False when the
    // URL was refused or nothing could open it.
    Q_INVOKABLE bool open(const QString &text) const;
};
