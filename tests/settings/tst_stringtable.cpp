// The interface texts of AppSettings::t in both languages.

#include "settings/appsettings.h"
#include "settings/stringtable.h"
#include "settingsfixture.h"
#include "signallog.h"

#include <QMetaProperty>
#include <QtTest>

using namespace SettingsFixture;
using namespace Qt::StringLiterals;

namespace {

// Every key the screens and notifications may read.
const QStringList kKeys = {"loginTitle",
                           "loginSubtitle",
                           "expiresIn",
                           "waitingBrowser",
                           "signIn",
                           "cancel",
                           "tryAgain",
                           "statusProtected",
                           "statusConnecting",
                           "statusReconnecting",
                           "statusNotConnected",
                           "connect",
                           "disconnect",
                           "pleaseWait",
                           "session",
                           "speed",
                           "traffic",
                           "server",
                           "killSwitch",
                           "killSwitchNever",
                           "killSwitchOnConnect",
                           "killSwitchAlways",
                           "ksOff",
                           "ksOn",
                           "ksAlways",
                           "settings",
                           "darkTheme",
                           "darkOn",
                           "darkOff",
                           "startWithWindows",
                           "startWithWindowsDesc",
                           "whitelist",
                           "whitelistDesc",
                           "games",
                           "gamesDesc",
                           "language",
                           "daemon",
                           "logOut",
                           "saveDiag",
                           "saveDiagDesc",
                           "saveDiagDone",
                           "updateAvailable",
                           "installUpdate",
                           "installing",
                           "downloading",
                           "updateReadyText",
                           "restartNow",
                           "connectionFailed",
                           "errorDefault",
                           "daemonUnreachable",
                           "nextAttemptAt",
                           "retryNow",
                           "trayOpen",
                           "quit",
                           "trayHide",
                           "back",
                           "minimise",
                           "close",
                           "languageEnglish",
                           "languageRussian",
                           "notifyConnected",
                           "notifyReconnecting",
                           "notifyFailed"};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestStringTable : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetStore(); }

    void bothLanguagesHaveTheSameKeys();
    void textsAreTrimmedNonEmptyStrings_data();
    void textsAreTrimmedNonEmptyStrings();
    void ellipsisAndDashAreSingleCharacters_data();
    void ellipsisAndDashAreSingleCharacters();
    void textsFollowTheLanguage();
    void failedConnectionReadsTheSameEverywhere_data();
    void failedConnectionReadsTheSameEverywhere();
    void readingSharesTheOneTable();
};

void TestStringTable::bothLanguagesHaveTheSameKeys()
{
    QCOMPARE(StringTable::english().keys(), sorted(kKeys));
    QCOMPARE(StringTable::russian().keys(), sorted(kKeys));
}

void TestStringTable::textsAreTrimmedNonEmptyStrings_data()
{
    QTest::addColumn<QVariantMap>("table");
    QTest::newRow("en") << StringTable::english();
    QTest::newRow("ru") << StringTable::russian();
}

void TestStringTable::textsAreTrimmedNonEmptyStrings()
{
    QFETCH(QVariantMap, table);

    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        const QString key = it.key();
        QCOMPARE(it.value().typeId(), int(QMetaType::QString));
        const QString text = it.value().toString();
        QVERIFY2(!text.isEmpty(), qPrintable(key));
        QVERIFY2(!text.front().isSpace() && !text.back().isSpace(), qPrintable(key));
        // Never three dots or a hyphen standing in for "…" and "—".
        QVERIFY2(!text.contains(QLatin1String("...")), qPrintable(key));
        QVERIFY2(!text.contains(QLatin1String(" - ")), qPrintable(key));
    }
}

void TestStringTable::ellipsisAndDashAreSingleCharacters_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("russian");

    QTest::newRow("waitingBrowser")
        << "waitingBrowser" << u"Waiting for browser sign-in…"_s << u"Ожидание входа в браузере…"_s;
    QTest::newRow("statusConnecting")
        << "statusConnecting" << u"Connecting…"_s << u"Подключение…"_s;
    QTest::newRow("pleaseWait") << "pleaseWait" << u"Please wait…"_s << u"Подождите…"_s;
    QTest::newRow("installing") << "installing" << u"Installing…"_s << u"Установка…"_s;
    QTest::newRow("killSwitchNever")
        << "killSwitchNever" << u"Off — no blocking"_s << u"Выкл — без блокировки"_s;
    QTest::newRow("killSwitchOnConnect") << "killSwitchOnConnect" << u"On — blocks when VPN drops"_s
                                         << u"Вкл — блокирует при разрыве VPN"_s;
    QTest::newRow("killSwitchAlways") << "killSwitchAlways" << u"Always — blocks without VPN too"_s
                                      << u"Всегда — блокирует без VPN тоже"_s;
    QTest::newRow("whitelistDesc")
        << "whitelistDesc" << u"Route Russian sites directly; tunnel everything else"_s
        << u"Российские сайты — напрямую, остальное — через VPN"_s;
    QTest::newRow("gamesDesc")
        << "gamesDesc"
        << u"Route games and launchers directly, bypassing the VPN. Turn off if a game is unavailable from Russia"_s
        << u"Игры и лаунчеры — напрямую, минуя VPN. Выключите, если игра недоступна из России"_s;
    QTest::newRow("updateReadyText")
        << "updateReadyText" << u"Update downloaded — restart to apply"_s
        << u"Обновление загружено — перезапустите для установки"_s;
    QTest::newRow("notifyReconnecting")
        << "notifyReconnecting" << u"Connection lost — reconnecting…"_s
        << u"Соединение потеряно — переподключение…"_s;
}

void TestStringTable::ellipsisAndDashAreSingleCharacters()
{
    QFETCH(QString, key);
    QFETCH(QString, english);
    QFETCH(QString, russian);

    QCOMPARE(StringTable::english().value(key).toString(), english);
    QCOMPARE(StringTable::russian().value(key).toString(), russian);
}

void TestStringTable::textsFollowTheLanguage()
{
    AppSettings settings;
    SignalLog log(&settings, [&settings] {
        return settings.t().value(QStringLiteral("loginTitle")).toString();
    });
    QCOMPARE(settings.t().value(QStringLiteral("loginTitle")).toString(),
             QStringLiteral("Welcome to Kestrix"));

    settings.setLanguage(QStringLiteral("ru"));
    settings.setLanguage(QStringLiteral("ru"));
    settings.setLanguage(QStringLiteral("RU"));

    QCOMPARE(log.emitted,
             (QStringList{QStringLiteral("languageChanged"), QStringLiteral("languageChanged")}));
    QCOMPARE(log.seen, (QStringList{u"Добро пожаловать в Kestrix"_s, u"Welcome to Kestrix"_s}));

    const QMetaProperty t =
        AppSettings::staticMetaObject.property(AppSettings::staticMetaObject.indexOfProperty("t"));
    QVERIFY(!t.isWritable());
    QCOMPARE(t.notifySignal().name(), QByteArray("languageChanged"));
}

void TestStringTable::failedConnectionReadsTheSameEverywhere_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("text");
    QTest::newRow("en") << "en"
                        << "Connection failed";
    QTest::newRow("ru") << "ru" << u"Сбой подключения"_s;
}

// The tray notification and the error screen's heading use different keys.
void TestStringTable::failedConnectionReadsTheSameEverywhere()
{
    QFETCH(QString, language);
    QFETCH(QString, text);

    AppSettings settings;
    settings.setLanguage(language);
    QCOMPARE(settings.t().value(QStringLiteral("notifyFailed")).toString(), text);
    QCOMPARE(settings.t().value(QStringLiteral("connectionFailed")).toString(), text);
}

// Every binding reads the whole map; it must be the one table, not a copy.
void TestStringTable::readingSharesTheOneTable()
{
    AppSettings first;
    const AppSettings second;
    QVERIFY(first.t().isSharedWith(StringTable::english()));
    QVERIFY(first.t().isSharedWith(second.t()));

    first.setLanguage(QStringLiteral("ru"));
    QVERIFY(first.t().isSharedWith(StringTable::russian()));
    first.setLanguage(QStringLiteral("en"));
    QVERIFY(first.t().isSharedWith(second.t()));
}

KESTRIX_SETTINGS_TEST_MAIN(TestStringTable)

#include "tst_stringtable.moc"
