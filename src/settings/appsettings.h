#pragma once

#include <QColor>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariantMap>

// The user's interface preferences, kept in the per-user settings store, plus
// the start-with-the-system entry. It is also the one place the interface reads
// its colours and texts from: both are derived from a preference on every read.
//
// Every change is written and flushed before its signal is emitted, so a killed
// process loses nothing.
class AppSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool darkTheme READ darkTheme WRITE setDarkTheme NOTIFY themeChanged)
    Q_PROPERTY(bool autostart READ autostart WRITE setAutostart NOTIFY autostartChanged)
    Q_PROPERTY(bool whitelist READ whitelist WRITE setWhitelist NOTIFY whitelistChanged)
    Q_PROPERTY(bool games READ games WRITE setGames NOTIFY gamesChanged)
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QVariantMap t READ t NOTIFY languageChanged)
    Q_PROPERTY(QColor bg READ bg NOTIFY themeChanged)
    Q_PROPERTY(QColor surface READ surface NOTIFY themeChanged)
    Q_PROPERTY(QColor surfaceAlt READ surfaceAlt NOTIFY themeChanged)
    Q_PROPERTY(QColor fg READ fg NOTIFY themeChanged)
    Q_PROPERTY(QColor fgMuted READ fgMuted NOTIFY themeChanged)
    Q_PROPERTY(QColor accent READ accent NOTIFY themeChanged)
    Q_PROPERTY(QColor accentText READ accentText NOTIFY themeChanged)
    Q_PROPERTY(QColor border READ border NOTIFY themeChanged)
    Q_PROPERTY(QColor success READ success NOTIFY themeChanged)
    Q_PROPERTY(QColor warning READ warning NOTIFY themeChanged)
    Q_PROPERTY(QColor danger READ danger NOTIFY themeChanged)

public:
    explicit AppSettings(QObject *parent = nullptr);

    bool darkTheme() const { return m_darkTheme; }
    bool autostart() const { return m_autostart; }
    bool whitelist() const { return m_whitelist; }
    bool games() const { return m_games; }
    QString language() const { return m_language; }

    // The texts of the current language: a shared copy of a process-wide table.
    QVariantMap t() const;

    QColor bg() const;
    QColor surface() const;
    QColor surfaceAlt() const;
    QColor fg() const;
    QColor fgMuted() const;
    QColor accent() const;
    QColor accentText() const;
    QColor border() const;
    QColor success() const;
    QColor warning() const;
    QColor danger() const;

    Q_INVOKABLE void setDarkTheme(bool v);
    Q_INVOKABLE void toggleTheme();
    Q_INVOKABLE void setAutostart(bool v);
    Q_INVOKABLE void setWhitelist(bool v);
    Q_INVOKABLE void setGames(bool v);
    Q_INVOKABLE void setLanguage(const QString &lang);

signals:
    void themeChanged();
    void autostartChanged();
    void whitelistChanged();
    void gamesChanged();
    void languageChanged();

private:
    void storeBool(bool &field, bool v, const QString &key, void (AppSettings::*changed)());

    QSettings m_store;
    bool m_darkTheme = true;
    bool m_autostart = false;
    bool m_whitelist = false;
    bool m_games = false;
    QString m_language;
};
