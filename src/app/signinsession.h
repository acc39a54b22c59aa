#pragma once

#include "app/signinflow.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

// The login screen's sign-in: what it asked the daemon for, and what the
// daemon's "browser_opened" may do about it (see SignInFlow). Lives as long as
// the screen, and closes a sign-in's hand-off when it goes.
class SignInSession : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(SignInSession)

public:
    enum Answer
    {
        Ignored = int(SignInFlow::Answer::Ignored),
        Opened = int(SignInFlow::Answer::Opened),
        Updated = int(SignInFlow::Answer::Updated),
        Failed = int(SignInFlow::Answer::Failed),
        Replaced = int(SignInFlow::Answer::Replaced),
    };
    Q_ENUM(Answer)

    explicit SignInSession(QObject *parent = nullptr);

    Q_INVOKABLE void start() { m_flow.start(); }
    Q_INVOKABLE SignInSession::Answer offer(const QString &loginUrl, const QString &linkText)
    {
        return Answer(m_flow.offer(loginUrl, linkText));
    }
    Q_INVOKABLE void end() { m_flow.end(); }

private:
    SignInFlow m_flow;
};
