#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

// Timed events for scenarios that commands cannot produce. One JSON object a
// line: {"delay_ms":N,"event":{...}} sends the event, {"delay_ms":N,"raw":"text"}
// sends the text as a line as it is; each delay counts from the line before.
// Blank lines and lines starting with '#' are skipped.
class EventScript : public QObject
{
    Q_OBJECT

public:
    explicit EventScript(QObject *parent = nullptr);

    // Reads and checks the whole file; on a fault returns false with the line
    // number and reason in *error.
    bool load(const QString &path, QString *error);

    // Plays from the start; a second call while playing does nothing.
    void start();

signals:
    // One line to send, without its line feed.
    void line(const QByteArray &text);

private:
    struct Step
    {
        int delayMs;
        QByteArray text;
    };
    void playNext();

    QList<Step> m_steps;
    qsizetype m_next = 0;
    bool m_started = false;
    QTimer m_timer;
};
