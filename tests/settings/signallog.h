#pragma once

#include "settings/appsettings.h"

#include <QStringList>

#include <functional>

// Records every notify signal of an AppSettings in the order emitted, and,
// when given a probe, what the probe saw at the moment of each emission.
class SignalLog
{
public:
    explicit SignalLog(AppSettings *settings, std::function<QString()> probe = {})
        : m_probe(std::move(probe))
    {
        watch(settings, &AppSettings::themeChanged, QStringLiteral("themeChanged"));
        watch(settings, &AppSettings::autostartChanged, QStringLiteral("autostartChanged"));
        watch(settings, &AppSettings::whitelistChanged, QStringLiteral("whitelistChanged"));
        watch(settings, &AppSettings::gamesChanged, QStringLiteral("gamesChanged"));
        watch(settings, &AppSettings::languageChanged, QStringLiteral("languageChanged"));
    }

    QStringList emitted;
    QStringList seen;

private:
    void watch(AppSettings *settings, void (AppSettings::*signal)(), const QString &name)
    {
        QObject::connect(settings, signal, settings, [this, name] {
            emitted << name;
            if (m_probe)
                seen << m_probe();
        });
    }

    std::function<QString()> m_probe;
};
