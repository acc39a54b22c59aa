#include "settings/appsettings.h"

#include "settings/autostart.h"
#include "settings/palette.h"
#include "settings/stringtable.h"

#include <QLocale>

namespace {

const QString kDarkThemeKey = QStringLiteral("ui/darkTheme");
const QString kWhitelistKey = QStringLiteral("ui/whitelist");
const QString kGamesKey = QStringLiteral("ui/games");
const QString kLanguageKey = QStringLiteral("ui/language");

const QString kEnglish = QStringLiteral("en");
const QString kRussian = QStringLiteral("ru");

// Exactly "ru" is Russian; anything else, "RU" included, is English.
QString normalisedLanguage(const QString &code)
{
    return code == kRussian ? kRussian : kEnglish;
}

QString systemLanguage()
{
    return QLocale::system().language() == QLocale::Russian ? kRussian : kEnglish;
}

} // namespace

AppSettings::AppSettings(QObject *parent)
    : QObject(parent), m_store(QStringLiteral("Kest"), QStringLiteral("Kestrix"))
{
    m_darkTheme = m_store.value(kDarkThemeKey, true).toBool();
    m_autostart = Autostart::exists();
    m_whitelist = m_store.value(kWhitelistKey, false).toBool();
    m_games = m_store.value(kGamesKey, false).toBool();
    // Corrected in memory only: a stored code we do not know stays in the store.
    m_language = normalisedLanguage(m_store.value(kLanguageKey, systemLanguage()).toString());
}

QVariantMap AppSettings::t() const
{
    return StringTable::forLanguage(m_language);
}

QColor AppSettings::bg() const
{
    return Palette::color(Palette::Role::Bg, m_darkTheme);
}

QColor AppSettings::surface() const
{
    return Palette::color(Palette::Role::Surface, m_darkTheme);
}

QColor AppSettings::surfaceAlt() const
{
    return Palette::color(Palette::Role::SurfaceAlt, m_darkTheme);
}

QColor AppSettings::fg() const
{
    return Palette::color(Palette::Role::Fg, m_darkTheme);
}

QColor AppSettings::fgMuted() const
{
    return Palette::color(Palette::Role::FgMuted, m_darkTheme);
}

QColor AppSettings::accent() const
{
    return Palette::color(Palette::Role::Accent, m_darkTheme);
}

QColor AppSettings::accentText() const
{
    return Palette::color(Palette::Role::AccentText, m_darkTheme);
}

QColor AppSettings::border() const
{
    return Palette::color(Palette::Role::Border, m_darkTheme);
}

QColor AppSettings::success() const
{
    return Palette::color(Palette::Role::Success, m_darkTheme);
}

QColor AppSettings::warning() const
{
    return Palette::color(Palette::Role::Warning, m_darkTheme);
}

QColor AppSettings::danger() const
{
    return Palette::color(Palette::Role::Danger, m_darkTheme);
}

void AppSettings::storeBool(bool &field, bool v, const QString &key, void (AppSettings::*changed)())
{
    if (field == v)
        return;
    field = v;
    m_store.setValue(key, v);
    m_store.sync(); // on disk before anyone hears of it
    emit(this->*changed)();
}

void AppSettings::setDarkTheme(bool v)
{
    storeBool(m_darkTheme, v, kDarkThemeKey, &AppSettings::themeChanged);
}

void AppSettings::toggleTheme()
{
    setDarkTheme(!m_darkTheme);
}

void AppSettings::setAutostart(bool v)
{
    // Compared with the flag read at start, not with the entry as it is now.
    if (m_autostart == v)
        return;
    m_autostart = v;
    if (v)
        Autostart::write();
    else
        Autostart::remove();
    emit autostartChanged();
}

void AppSettings::setWhitelist(bool v)
{
    storeBool(m_whitelist, v, kWhitelistKey, &AppSettings::whitelistChanged);
}

void AppSettings::setGames(bool v)
{
    storeBool(m_games, v, kGamesKey, &AppSettings::gamesChanged);
}

void AppSettings::setLanguage(const QString &lang)
{
    const QString code = normalisedLanguage(lang);
    if (code == m_language)
        return;
    m_language = code;
    m_store.setValue(kLanguageKey, code);
    m_store.sync();
    emit languageChanged();
}
