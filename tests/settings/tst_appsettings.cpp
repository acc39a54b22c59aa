// AppSettings against the real per-user store in a temporary XDG_CONFIG_HOME.

#include "settings/appsettings.h"
#include "settingsfixture.h"
#include "signallog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaProperty>
#include <QProcess>
#include <QThread>
#include <QtTest>

#include <cstdio>

using namespace SettingsFixture;

namespace {

const char kPrintDefaults[] = "--child-print-defaults";
const char kWriteAndWait[] = "--child-write-and-wait";

// Child: the preferences as a fresh start sees them, as one JSON line.
int printDefaults()
{
    const AppSettings settings;
    const QJsonObject seen{{QStringLiteral("darkTheme"), settings.darkTheme()},
                           {QStringLiteral("autostart"), settings.autostart()},
                           {QStringLiteral("whitelist"), settings.whitelist()},
                           {QStringLiteral("games"), settings.games()},
                           {QStringLiteral("language"), settings.language()}};
    std::fputs(QJsonDocument(seen).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
    return 0;
}

// Child: changes every stored preference, says so, then waits to be killed
// without ever returning to an event loop or destroying the store.
int writeAndWait()
{
    AppSettings settings;
    settings.setDarkTheme(false);
    settings.setWhitelist(true);
    settings.setGames(true);
    settings.setLanguage(QStringLiteral("ru"));
    std::fputs("written\n", stdout);
    std::fflush(stdout);
    for (;;)
        QThread::sleep(60);
}

bool invoke(AppSettings &settings, const QString &method, const QVariant &argument)
{
    const QByteArray name = method.toLatin1();
    if (!argument.isValid())
        return QMetaObject::invokeMethod(&settings, name.constData());
    if (argument.typeId() == QMetaType::Bool)
        return QMetaObject::invokeMethod(&settings, name.constData(),
                                         Q_ARG(bool, argument.toBool()));
    return QMetaObject::invokeMethod(&settings, name.constData(),
                                     Q_ARG(QString, argument.toString()));
}

const QVariantMap kAllChanged{{QStringLiteral("ui/darkTheme"), false},
                              {QStringLiteral("ui/whitelist"), true},
                              {QStringLiteral("ui/games"), true},
                              {QStringLiteral("ui/language"), QStringLiteral("ru")}};

} // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetStore(); }

    void firstStartDefaults_data();
    void firstStartDefaults();
    void storedValuesAreRead_data();
    void storedValuesAreRead();
    void unchangedValueIsNeitherWrittenNorSignalled_data();
    void unchangedValueIsNeitherWrittenNorSignalled();
    void changeIsOnDiskBeforeItsSignal_data();
    void changeIsOnDiskBeforeItsSignal();
    void toggleThemeAlwaysWritesAndSignals();
    void foreignStoredLanguageStaysInStore();
    void killedProcessLosesNothing();
    void propertiesAsQmlSeesThem_data();
    void propertiesAsQmlSeesThem();
};

void TestAppSettings::firstStartDefaults_data()
{
    QTest::addColumn<QString>("lcAll");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("language");

    QTest::newRow("LANG Russian") << QString() << "ru_RU.UTF-8"
                                  << "ru";
    QTest::newRow("LANG Russian, other territory") << QString() << "ru_UA.UTF-8"
                                                   << "ru";
    QTest::newRow("LC_ALL Russian over English LANG") << "ru_RU.UTF-8"
                                                      << "en_US.UTF-8"
                                                      << "ru";
    QTest::newRow("LC_ALL German over Russian LANG") << "de_DE.UTF-8"
                                                     << "ru_RU.UTF-8"
                                                     << "en";
    QTest::newRow("LANG English") << QString() << "en_GB.UTF-8"
                                  << "en";
    QTest::newRow("LANG Ukrainian") << QString() << "uk_UA.UTF-8"
                                    << "en";
    QTest::newRow("C locale") << "C"
                              << "C"
                              << "en";
}

// The system locale is read once per process, so each locale gets a child.
void TestAppSettings::firstStartDefaults()
{
    QFETCH(QString, lcAll);
    QFETCH(QString, lang);
    QFETCH(QString, language);

    QTemporaryDir config;
    QVERIFY(config.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"})
        env.remove(QLatin1String(name));
    if (!lcAll.isNull())
        env.insert(QStringLiteral("LC_ALL"), lcAll);
    env.insert(QStringLiteral("LANG"), lang);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());

    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(kPrintDefaults)});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    const QJsonObject seen = QJsonDocument::fromJson(child.readAllStandardOutput()).object();

    QCOMPARE(seen.value(QLatin1String("darkTheme")), QJsonValue(true));
    QCOMPARE(seen.value(QLatin1String("whitelist")), QJsonValue(false));
    QCOMPARE(seen.value(QLatin1String("games")), QJsonValue(false));
    QCOMPARE(seen.value(QLatin1String("autostart")), QJsonValue(false));
    QCOMPARE(seen.value(QLatin1String("language")).toString(), language);
    // Nothing is written until the user changes something, so a later change
    // of the system language is still followed.
    QCOMPARE(QDir(config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestAppSettings::storedValuesAreRead_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<bool>("darkTheme");
    QTest::addColumn<bool>("whitelist");
    QTest::addColumn<bool>("games");
    QTest::addColumn<QString>("language");

    QTest::newRow("all changed") << kAllChanged << false << true << true << "ru";
    QTest::newRow("English stored")
        << QVariantMap{{QStringLiteral("ui/language"), QStringLiteral("en")}} << true << false
        << false << "en";
    QTest::newRow("upper-case RU")
        << QVariantMap{{QStringLiteral("ui/language"), "RU"}} << true << false << false << "en";
    QTest::newRow("empty language") << QVariantMap{{QStringLiteral("ui/language"), QString()}}
                                    << true << false << false << "en";
    QTest::newRow("numbers as booleans") << QVariantMap{{QStringLiteral("ui/darkTheme"), 0},
                                                        {QStringLiteral("ui/whitelist"), 1},
                                                        {QStringLiteral("ui/games"), 1}}
                                         << false << true << true << "en";
    QTest::newRow("words as booleans")
        << QVariantMap{{QStringLiteral("ui/darkTheme"), QStringLiteral("false")},
                       {QStringLiteral("ui/whitelist"), QStringLiteral("true")}}
        << false << true << false << "en";
}

void TestAppSettings::storedValuesAreRead()
{
    QFETCH(QVariantMap, stored);
    QFETCH(bool, darkTheme);
    QFETCH(bool, whitelist);
    QFETCH(bool, games);
    QFETCH(QString, language);

    seedStore(stored);
    const QByteArray before = readFile(storePath());
    const AppSettings settings;

    QCOMPARE(settings.darkTheme(), darkTheme);
    QCOMPARE(settings.whitelist(), whitelist);
    QCOMPARE(settings.games(), games);
    QCOMPARE(settings.language(), language);
    QCOMPARE(readFile(storePath()), before); // reading corrects nothing on disk
}

void TestAppSettings::unchangedValueIsNeitherWrittenNorSignalled_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QVariant>("argument");

    const QVariantMap none;
    QTest::newRow("default dark theme") << none << "setDarkTheme" << QVariant(true);
    QTest::newRow("default whitelist") << none << "setWhitelist" << QVariant(false);
    QTest::newRow("default games") << none << "setGames" << QVariant(false);
    QTest::newRow("default en") << none << "setLanguage" << QVariant(QStringLiteral("en"));
    QTest::newRow("RU while en") << none << "setLanguage" << QVariant(QStringLiteral("RU"));
    QTest::newRow("other code while en") << none << "setLanguage" << QVariant(QStringLiteral("de"));
    QTest::newRow("empty while en") << none << "setLanguage" << QVariant(QString());
    QTest::newRow("stored light theme") << kAllChanged << "setDarkTheme" << QVariant(false);
    QTest::newRow("stored whitelist") << kAllChanged << "setWhitelist" << QVariant(true);
    QTest::newRow("stored games") << kAllChanged << "setGames" << QVariant(true);
    QTest::newRow("stored ru") << kAllChanged << "setLanguage" << QVariant(QStringLiteral("ru"));
    QTest::newRow("autostart off") << none << "setAutostart" << QVariant(false);
}

void TestAppSettings::unchangedValueIsNeitherWrittenNorSignalled()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QString, method);
    QFETCH(QVariant, argument);

    seedStore(stored);
    AppSettings settings;
    SignalLog log(&settings);
    // Any write would bring the file back.
    QFile::remove(storePath());

    QVERIFY(invoke(settings, method, argument));

    QCOMPARE(log.emitted, QStringList());
    QVERIFY(!QFile::exists(storePath()));
    QVERIFY(!QFile::exists(autostartEntryPath()));
}

void TestAppSettings::changeIsOnDiskBeforeItsSignal_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QVariant>("argument");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("onDisk");
    QTest::addColumn<QString>("signal");

    const QVariantMap none;
    QTest::newRow("light theme") << none << "setDarkTheme" << QVariant(false) << "darkTheme"
                                 << QVariant(false) << "ui/darkTheme"
                                 << "false"
                                 << "themeChanged";
    QTest::newRow("dark theme again") << kAllChanged << "setDarkTheme" << QVariant(true)
                                      << "darkTheme" << QVariant(true) << "ui/darkTheme"
                                      << "true"
                                      << "themeChanged";
    QTest::newRow("whitelist on") << none << "setWhitelist" << QVariant(true) << "whitelist"
                                  << QVariant(true) << "ui/whitelist"
                                  << "true"
                                  << "whitelistChanged";
    QTest::newRow("whitelist off") << kAllChanged << "setWhitelist" << QVariant(false)
                                   << "whitelist" << QVariant(false) << "ui/whitelist"
                                   << "false"
                                   << "whitelistChanged";
    QTest::newRow("games on") << none << "setGames" << QVariant(true) << "games" << QVariant(true)
                              << "ui/games"
                              << "true"
                              << "gamesChanged";
    QTest::newRow("ru") << none << "setLanguage" << QVariant(QStringLiteral("ru")) << "language"
                        << QVariant(QStringLiteral("ru")) << "ui/language"
                        << "ru"
                        << "languageChanged";
    QTest::newRow("RU while ru gives en")
        << kAllChanged << "setLanguage" << QVariant(QStringLiteral("RU")) << "language"
        << QVariant(QStringLiteral("en")) << "ui/language"
        << "en"
        << "languageChanged";
    QTest::newRow("other code while ru gives en")
        << kAllChanged << "setLanguage" << QVariant(QStringLiteral("fr")) << "language"
        << QVariant(QStringLiteral("en")) << "ui/language"
        << "en"
        << "languageChanged";
    // Writing the property, as QML does, goes through the same setter.
    QTest::newRow("property write")
        << none << QString() << QVariant(true) << "games" << QVariant(true) << "ui/games"
        << "true"
        << "gamesChanged";
}

void TestAppSettings::changeIsOnDiskBeforeItsSignal()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QString, method);
    QFETCH(QVariant, argument);
    QFETCH(QString, property);
    QFETCH(QVariant, value);
    QFETCH(QString, key);
    QFETCH(QString, onDisk);
    QFETCH(QString, signal);

    seedStore(stored);
    AppSettings settings;
    SignalLog log(&settings, [key] { return storedOnDisk(key); });

    if (method.isEmpty())
        QVERIFY(settings.setProperty(property.toLatin1().constData(), argument));
    else
        QVERIFY(invoke(settings, method, argument));

    QCOMPARE(log.emitted, QStringList{signal});
    QCOMPARE(log.seen, QStringList{onDisk});
    QCOMPARE(settings.property(property.toLatin1().constData()), value);
}

void TestAppSettings::toggleThemeAlwaysWritesAndSignals()
{
    AppSettings settings;
    SignalLog log(&settings, [] { return storedOnDisk(QStringLiteral("ui/darkTheme")); });

    settings.toggleTheme();
    QCOMPARE(settings.darkTheme(), false);
    settings.toggleTheme();
    QCOMPARE(settings.darkTheme(), true);

    QCOMPARE(log.emitted,
             (QStringList{QStringLiteral("themeChanged"), QStringLiteral("themeChanged")}));
    // The second toggle stores the default explicitly rather than leaving it out.
    QCOMPARE(log.seen, (QStringList{QStringLiteral("false"), QStringLiteral("true")}));
}

void TestAppSettings::foreignStoredLanguageStaysInStore()
{
    seedStore({{QStringLiteral("ui/language"), QStringLiteral("de")}});
    AppSettings settings;
    SignalLog log(&settings);

    QCOMPARE(settings.language(), QStringLiteral("en"));
    QCOMPARE(storedOnDisk(QStringLiteral("ui/language")), QStringLiteral("de"));

    settings.setLanguage(QStringLiteral("en"));
    QCOMPARE(log.emitted, QStringList());
    QCOMPARE(storedOnDisk(QStringLiteral("ui/language")), QStringLiteral("de"));

    settings.setLanguage(QStringLiteral("ru"));
    QCOMPARE(log.emitted, QStringList{QStringLiteral("languageChanged")});
    QCOMPARE(storedOnDisk(QStringLiteral("ui/language")), QStringLiteral("ru"));
}

void TestAppSettings::killedProcessLosesNothing()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(kWriteAndWait)});
    QVERIFY(child.waitForStarted(30000));
    QByteArray said;
    while (!said.contains("written\n") && child.waitForReadyRead(30000))
        said += child.readAllStandardOutput();
    QVERIFY2(said.contains("written\n"), child.readAllStandardError().constData());
    child.kill(); // SIGKILL: no destructor, no shutdown sync
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    const AppSettings settings;
    QCOMPARE(settings.darkTheme(), false);
    QCOMPARE(settings.whitelist(), true);
    QCOMPARE(settings.games(), true);
    QCOMPARE(settings.language(), QStringLiteral("ru"));
}

void TestAppSettings::propertiesAsQmlSeesThem_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("notify");

    QTest::newRow("darkTheme") << 0 << true << "themeChanged";
    QTest::newRow("autostart") << 1 << true << "autostartChanged";
    QTest::newRow("whitelist") << 2 << true << "whitelistChanged";
    QTest::newRow("games") << 3 << true << "gamesChanged";
    QTest::newRow("language") << 4 << true << "languageChanged";
    QTest::newRow("t") << 5 << false << "languageChanged";
}

// QML binds by these names and re-evaluates on these signals; the position is
// the meta-object's order.
void TestAppSettings::propertiesAsQmlSeesThem()
{
    QFETCH(int, position);
    QFETCH(bool, writable);
    QFETCH(QString, notify);

    const QMetaObject &meta = AppSettings::staticMetaObject;
    const QMetaProperty property = meta.property(meta.propertyOffset() + position);
    QCOMPARE(property.name(), QTest::currentDataTag());
    QCOMPARE(property.isWritable(), writable);
    QCOMPARE(QString::fromLatin1(property.notifySignal().name()), notify);
}

int main(int argc, char *argv[])
{
    if (argc > 1 &&
        (qstrcmp(argv[1], kPrintDefaults) == 0 || qstrcmp(argv[1], kWriteAndWait) == 0)) {
        QCoreApplication app(argc, argv);
        return qstrcmp(argv[1], kPrintDefaults) == 0 ? printDefaults() : writeAndWait();
    }
    return runIsolated<TestAppSettings>(argc, argv);
}

#include "tst_appsettings.moc"
