#include "settings/stringtable.h"

namespace StringTable {
namespace {

struct Text
{
    const char *key;
    const char *english;
    const char *russian;
};

// u8 literals keep the texts UTF-8 whatever the compiler's execution charset.
// "…" and "—" are single characters, never three dots or a hyphen.
constexpr Text kTexts[] = {
    // Sign-in
    {"loginTitle", u8"Welcome to Kestrix", u8"Добро пожаловать в Kestrix"},
    {"loginSubtitle", u8"Sign in to continue", u8"Войдите чтобы продолжить"},
    {"expiresIn", u8"Expires in", u8"Истекает через"},
    {"waitingBrowser", u8"Waiting for browser sign-in…", u8"Ожидание входа в браузере…"},
    {"signIn", u8"Sign in", u8"Войти"},
    {"cancel", u8"Cancel", u8"Отмена"},
    {"tryAgain", u8"Try again", u8"Повторить"},
    // Connection state and the main screen
    {"statusProtected", u8"Protected", u8"Защищено"},
    {"statusConnecting", u8"Connecting…", u8"Подключение…"},
    {"statusReconnecting", u8"Reconnecting", u8"Переподключение"},
    {"statusNotConnected", u8"Not connected", u8"Не подключено"},
    {"connect", u8"Connect", u8"Подключить"},
    {"disconnect", u8"Disconnect", u8"Отключить"},
    {"pleaseWait", u8"Please wait…", u8"Подождите…"},
    {"session", u8"Session", u8"Сессия"},
    {"speed", u8"Speed", u8"Скорость"},
    {"traffic", u8"Traffic", u8"Трафик"},
    {"server", u8"Server", u8"Сервер"},
    // Kill switch
    {"killSwitch", u8"Kill switch", u8"Аварийное отключение"},
    {"killSwitchNever", u8"Off — no blocking", u8"Выкл — без блокировки"},
    {"killSwitchOnConnect", u8"On — blocks when VPN drops", u8"Вкл — блокирует при разрыве VPN"},
    {"killSwitchAlways", u8"Always — blocks without VPN too", u8"Всегда — блокирует без VPN тоже"},
    {"ksOff", u8"Off", u8"Выкл"},
    {"ksOn", u8"On", u8"Вкл"},
    {"ksAlways", u8"Always", u8"Всегда"},
    // Preferences
    {"settings", u8"Settings", u8"Настройки"},
    {"darkTheme", u8"Dark theme", u8"Тёмная тема"},
    {"darkOn", u8"Dark mode is on", u8"Тёмная тема включена"},
    {"darkOff", u8"Light mode is on", u8"Светлая тема включена"},
    {"startWithWindows", u8"Start with Windows", u8"Запуск вместе с Windows"},
    {"startWithWindowsDesc", u8"Launch Kestrix at sign-in",
     u8"Запускать Kestrix при входе в систему"},
    {"whitelist", u8"Whitelist mode", u8"Режим белых списков"},
    {"whitelistDesc", u8"Route Russian sites directly; tunnel everything else",
     u8"Российские сайты — напрямую, остальное — через VPN"},
    {"games", u8"Gaming mode", u8"Игровой режим"},
    {"gamesDesc",
     u8"Route games and launchers directly, bypassing the VPN. Turn off if a game is unavailable "
     u8"from Russia",
     u8"Игры и лаунчеры — напрямую, минуя VPN. Выключите, если игра недоступна из России"},
    {"language", u8"Language", u8"Язык"},
    {"daemon", u8"Daemon", u8"Демон"},
    {"logOut", u8"Log out", u8"Выйти"},
    // Diagnostics and updates
    {"saveDiag", u8"Save diagnostic report", u8"Сохранить отчёт"},
    {"saveDiagDesc", u8"Saves a diagnostic zip to your Desktop",
     u8"Сохраняет диагностику на Рабочий стол"},
    {"saveDiagDone", u8"Saved", u8"Сохранено"},
    {"updateAvailable", u8"Update available", u8"Доступно обновление"},
    {"installUpdate", u8"Update", u8"Обновить"},
    {"installing", u8"Installing…", u8"Установка…"},
    {"downloading", u8"Downloading", u8"Загрузка"},
    {"updateReadyText", u8"Update downloaded — restart to apply",
     u8"Обновление загружено — перезапустите для установки"},
    {"restartNow", u8"Restart", u8"Перезапустить"},
    // Errors
    {"connectionFailed", u8"Connection failed", u8"Сбой подключения"},
    {"errorDefault",
     u8"All transports were exhausted. Check your internet connection and try again.",
     u8"Все транспорты исчерпаны. Проверьте интернет-соединение и повторите попытку."},
    // The daemon out of reach
    {"daemonUnreachable", u8"The Kestrix service is not reachable", u8"Служба Kestrix недоступна"},
    {"nextAttemptAt", u8"Next attempt at", u8"Следующая попытка в"},
    {"retryNow", u8"Retry now", u8"Повторить сейчас"},
    // Tray popup
    {"trayOpen", u8"Open Kestrix", u8"Открыть Kestrix"},
    {"quit", u8"Quit", u8"Выход"},
    // The native tray menu, beside the popup's texts
    {"trayHide", u8"Hide Kestrix", u8"Скрыть Kestrix"},
    // Names of the controls that show a glyph or a code instead of a text
    {"back", u8"Back", u8"Назад"},
    {"minimise", u8"Minimise", u8"Свернуть"},
    {"close", u8"Close", u8"Закрыть"},
    {"languageEnglish", u8"English", u8"Английский"},
    {"languageRussian", u8"Russian", u8"Русский"},
    // Notifications
    {"notifyConnected", u8"Connected", u8"Подключено"},
    {"notifyReconnecting", u8"Connection lost — reconnecting…",
     u8"Соединение потеряно — переподключение…"},
    {"notifyFailed", u8"Connection failed", u8"Сбой подключения"},
};

struct Tables
{
    QVariantMap english;
    QVariantMap russian;
};

Tables buildTables()
{
    Tables tables;
    for (const Text &text : kTexts)
        tables.english.insert(QLatin1String(text.key), QString::fromUtf8(text.english));
    for (const Text &text : kTexts)
        tables.russian.insert(QLatin1String(text.key), QString::fromUtf8(text.russian));
    return tables;
}

// A function-local static: built exactly once, even on concurrent first use,
// and destroyed at exit.
const Tables &tables()
{
    static const Tables instance = buildTables();
    return instance;
}

} // namespace

const QVariantMap &english()
{
    return tables().english;
}

const QVariantMap &russian()
{
    return tables().russian;
}

QVariantMap forLanguage(const QString &code)
{
    return code == QLatin1String("ru") ? russian() : english();
}

} // namespace StringTable
