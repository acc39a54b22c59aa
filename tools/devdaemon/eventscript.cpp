#include "eventscript.h"

#include "ipc/protocol.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

EventScript::EventScript(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &EventScript::playNext);
}

bool EventScript::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QByteArray text = file.readLine().trimmed();
        if (text.isEmpty() || text.startsWith('#'))
            continue;
        const auto fail = [&](const QString &why) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(number).arg(why);
            return false;
        };
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
        if (!doc.isObject())
            return fail(QStringLiteral("not a JSON object"));
        const QJsonObject step = doc.object();
        const QJsonValue delay = step.value(QStringLiteral("delay_ms"));
        if (!delay.isDouble() || delay.toDouble() < 0 || delay.toDouble() > 3600e3)
            return fail(QStringLiteral("\"delay_ms\" must be a number of milliseconds"));
        const QJsonValue event = step.value(QStringLiteral("event"));
        const QJsonValue raw = step.value(QStringLiteral("raw"));
        QByteArray line;
        if (event.isObject() && raw.isUndefined()) {
            line = Protocol::encode(event.toObject()).chopped(1);
        } else if (raw.isString() && event.isUndefined() && !raw.toString().contains(u'\n')) {
            line = raw.toString().toUtf8();
        } else {
            return fail(QStringLiteral("needs either \"event\" (an object) or \"raw\" (a line)"));
        }
        m_steps.append({int(delay.toDouble()), line});
    }
    return true;
}

void EventScript::start()
{
    if (m_started || m_steps.isEmpty())
        return;
    m_started = true;
    m_timer.start(m_steps.constFirst().delayMs);
}

void EventScript::playNext()
{
    emit line(m_steps.at(m_next).text);
    if (++m_next < m_steps.size())
        m_timer.start(m_steps.at(m_next).delayMs);
}
