#include "uifixture.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <functional>

// Records the smallest and largest values a property takes.
class ExtentTracker : public QObject
{
    Q_OBJECT
public:
    ExtentTracker(QObject *target, const char *name) : m_target(target), m_name(name)
    {
        const QMetaProperty property =
            target->metaObject()->property(target->metaObject()->indexOfProperty(name));
        connect(target, property.notifySignal(), this,
                metaObject()->method(metaObject()->indexOfSlot("sample()")));
        sample();
    }
    qreal lowest = 0;
    qreal highest = 0;
public slots:
    void sample()
    {
        const qreal value = m_target->property(m_name).toReal();
        lowest = qMin(lowest, value);
        highest = qMax(highest, value);
    }

private:
    QObject *m_target;
    const char *m_name;
};

// The settings screen: every control asks its model and follows it back.
class TestSettingsScreen : public QObject
{
    Q_OBJECT

private slots:
    void updateBanner_data();
    void updateBanner();
    void killSwitchSegments_data();
    void killSwitchSegments();
    void switchesAskTheirPreference_data();
    void switchesAskTheirPreference();
    void diagnosticReport();
    void savedReportShownReadably_data();
    void savedReportShownReadably();
    void daemonLine();
    void languageButtons();
    void scrollsWithoutOvershoot();

private:
    // Opens the settings screen of a signed-in user, scrolled to `fraction`
    // of its range (0 top, 1 bottom).
    static QQuickItem *openSettings(UiShell &ui, qreal fraction)
    {
        ui.window->setProperty("screen", QStringLiteral("settings"));
        QQuickItem *settings = ui.screenItem();
        const qreal range = settings->property("contentHeight").toReal() - settings->height();
        settings->setProperty("contentY", qMax<qreal>(0, range) * fraction);
        return settings;
    }
};

void TestSettingsScreen::updateBanner_data()
{
    QTest::addColumn<QList<QByteArray>>("events");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("bar");
    QTest::addColumn<QString>("button"); // the one button shown, if any
    QTest::addColumn<QByteArray>("command");

    const QByteArray available = "{\"type\":\"update_available\",\"update_version\":\"2.1.0\"}";
    auto progress = [](int p) {
        return "{\"type\":\"update_progress\",\"update_progress\":" + QByteArray::number(p) + '}';
    };
    const QByteArray ready = "{\"type\":\"update_ready\"}";
    const QByteArray updating = "{\"type\":\"updating\"}";

    QTest::newRow("available") << QList<QByteArray>{available} << true << "Update available 2.1.0"
                               << false << "updateButton"
                               << QByteArray("{\"cmd\":\"install_update\"}");
    QTest::newRow("downloading") << QList<QByteArray>{available, progress(42)} << true
                                 << "Downloading 42%" << true << "" << QByteArray();
    QTest::newRow("downloaded all") << QList<QByteArray>{available, progress(100)} << true
                                    << "Installing…" << true << "" << QByteArray();
    QTest::newRow("ready") << QList<QByteArray>{available, progress(100), ready} << true
                           << "Update downloaded — restart to apply" << false << "restartButton"
                           << QByteArray("{\"cmd\":\"apply_update\"}");
    QTest::newRow("applying") << QList<QByteArray>{available, ready, updating} << true
                              << "Installing…" << false << "" << QByteArray();
    QTest::newRow("progress without an update")
        << QList<QByteArray>{progress(30)} << false << "" << false << "" << QByteArray();
}

void TestSettingsScreen::updateBanner()
{
    QFETCH(QList<QByteArray>, events);
    QFETCH(bool, shown);
    QFETCH(QString, text);
    QFETCH(bool, bar);
    QFETCH(QString, button);
    QFETCH(QByteArray, command);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(events));
    openSettings(ui, 1.0);

    QCOMPARE(UiShell::shown(ui.item(QStringLiteral("updateBanner"))), shown);
    if (!shown)
        return;
    QCOMPARE(ui.item(QStringLiteral("updateStatus"))->property("text").toString(), text);
    QCOMPARE(UiShell::shown(ui.item(QStringLiteral("updateProgressBar"))), bar);
    for (const QString &name : {QStringLiteral("updateButton"), QStringLiteral("restartButton")})
        QCOMPARE(UiShell::shown(ui.item(name)), name == button);
    if (bar) {
        QQuickItem *track = ui.item(QStringLiteral("updateProgressBar"));
        QQuickItem *fill = ui.item(QStringLiteral("updateProgressFill"));
        QTRY_COMPARE(fill->width(), track->width() * ui.pipe.updateProgress() / 100);
    }
    if (!button.isEmpty()) {
        ui.daemon.clearLines();
        ui.click(ui.item(button));
        QVERIFY(ui.waitForCommand(command));
    }
}

void TestSettingsScreen::killSwitchSegments_data()
{
    QTest::addColumn<QByteArray>("reported");
    QTest::addColumn<QString>("active"); // empty: none

    QTest::newRow("never") << QByteArray("never") << "ksNever";
    QTest::newRow("on_connect") << QByteArray("on_connect") << "ksOnConnect";
    QTest::newRow("always") << QByteArray("always") << "ksAlways";
    QTest::newRow("unknown mode") << QByteArray("Always") << "";
}

void TestSettingsScreen::killSwitchSegments()
{
    QFETCH(QByteArray, reported);
    QFETCH(QString, active);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(
        ui.deliver(UiShell::status("disconnected", ",\"kill_switch_mode\":\"" + reported + "\"")));
    openSettings(ui, 0.0);

    const QStringList segments = {QStringLiteral("ksNever"), QStringLiteral("ksOnConnect"),
                                  QStringLiteral("ksAlways")};
    auto check = [&](const QString &expected) {
        for (const QString &name : segments) {
            QQuickItem *segment = ui.item(name);
            const bool on = name == expected;
            QCOMPARE(segment->property("color").value<QColor>(),
                     on ? ui.settings.accent() : ui.settings.surfaceAlt());
        }
    };
    check(active);

    // A click only asks; the highlight stays with what the daemon reported.
    ui.daemon.clearLines();
    ui.click(ui.item(QStringLiteral("ksAlways")));
    QVERIFY(ui.waitForCommand("{\"cmd\":\"set_kill_switch\",\"payload\":{\"mode\":\"always\"}}"));
    check(active);
}

void TestSettingsScreen::switchesAskTheirPreference_data()
{
    QTest::addColumn<QString>("card");
    QTest::addColumn<QString>("preference");

    QTest::newRow("dark theme") << "themeCard"
                                << "darkTheme";
    QTest::newRow("start with the system") << "autostartCard"
                                           << "autostart";
    QTest::newRow("whitelist") << "whitelistCard"
                               << "whitelist";
    QTest::newRow("gaming mode") << "gamesCard"
                                 << "games";
}

void TestSettingsScreen::switchesAskTheirPreference()
{
    QFETCH(QString, card);
    QFETCH(QString, preference);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    openSettings(ui, 0.0);
    QQuickItem *toggle = ui.item(card + QStringLiteral("Switch"));
    const QByteArray name = preference.toUtf8();
    const bool before = ui.settings.property(name).toBool();
    QCOMPARE(toggle->property("checked").toBool(), before);

    ui.click(toggle);
    QCOMPARE(ui.settings.property(name).toBool(), !before);
    QCOMPARE(toggle->property("checked").toBool(), !before);
    ui.click(toggle);
    QCOMPARE(ui.settings.property(name).toBool(), before);
    QCOMPARE(toggle->property("checked").toBool(), before);
}

void TestSettingsScreen::diagnosticReport()
{
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("kestrix-diag.zip"));
    QFile file(report);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("PK");
    file.close();
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    openSettings(ui, 0.5);
    QQuickItem *status = ui.item(QStringLiteral("diagStatus"));
    QCOMPARE(status->property("text").toString(),
             QStringLiteral("Saves a diagnostic zip to your Desktop"));

    ui.click(ui.item(QStringLiteral("diagButton")));
    QVERIFY(ui.waitForCommand("{\"cmd\":\"get_diag\"}"));
    QCOMPARE(status->property("text").toString(), QStringLiteral("…"));

    QSignalSpy ready(&ui.pipe, &PipeClient::diagReady);
    QVERIFY(ui.deliver("{\"type\":\"diag_ready\",\"diag_path\":\"" + report.toUtf8() + "\"}"));
    QTRY_COMPARE(ready.count(), 1); // the copy runs on a worker
    const QFileInfo copy(ready.at(0).at(0).toString());
    const QString expected = QStringLiteral("Saved: ") + copy.fileName();
    QCOMPARE(status->property("text").toString(), expected);
    QQuickItem *folder = ui.item(QStringLiteral("diagFolder"));
    QVERIFY(UiShell::shown(folder));
    QCOMPARE(folder->property("text").toString(), QDir::toNativeSeparators(copy.path()));
    // Once set, the lines keep their words when the language changes.
    ui.settings.setLanguage(QStringLiteral("ru"));
    QCOMPARE(status->property("text").toString(), expected);
    QCOMPARE(folder->property("text").toString(), QDir::toNativeSeparators(copy.path()));
}

// Where the report went: the file's name on the status line, its folder on
// the line below, each cut in the middle when too long (so the name's
// extension and the folder's last part stay), the whole path for a screen
// reader.
void TestSettingsScreen::savedReportShownReadably_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("fitsWhole");

    QTest::newRow("short, en") << "en"
                               << "/d/kestrix-diag.zip"
                               << "Saved: kestrix-diag.zip"
                               << "/d" << true;
    QTest::newRow("short, ru") << "ru"
                               << "/d/kestrix-diag.zip"
                               << "Сохранено: kestrix-diag.zip"
                               << "/d" << true;
    QTest::newRow("long folder")
        << "en"
        << "/home/anastasia.kuznetsova-petrovskaya/Рабочий стол/kestrix-diag.zip"
        << "Saved: kestrix-diag.zip"
        << "/home/anastasia.kuznetsova-petrovskaya/Рабочий стол" << false;
    QTest::newRow("long name, ru") << "ru"
                                   << "/home/u/Desktop/kestrix-diag-20261211-030000-123.zip"
                                   << "Сохранено: kestrix-diag-20261211-030000-123.zip"
                                   << "/home/u/Desktop" << false;
}

void TestSettingsScreen::savedReportShownReadably()
{
    QFETCH(QString, language);
    QFETCH(QString, path);
    QFETCH(QString, status);
    QFETCH(QString, folder);
    QFETCH(bool, fitsWhole);

    UiShell ui;
    QVERIFY(ui.start());
    ui.settings.setLanguage(language);
    QVERIFY(ui.show());
    openSettings(ui, 0.5);
    emit ui.pipe.diagReady(path); // what the pipe client reports once its copy is made

    QQuickItem *statusLine = ui.item(QStringLiteral("diagStatus"));
    QQuickItem *folderLine = ui.item(QStringLiteral("diagFolder"));
    QCOMPARE(statusLine->property("text").toString(), status);
    QCOMPARE(folderLine->property("text").toString(), QDir::toNativeSeparators(folder));

    const auto sceneRect = [](const QQuickItem *item) {
        return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    };
    const QRectF card = sceneRect(ui.item(QStringLiteral("diagCard")));
    for (QQuickItem *line : {statusLine, folderLine}) {
        QVERIFY(UiShell::shown(line));
        QCOMPARE(line->property("elide").toInt(), int(Qt::ElideMiddle));
        QCOMPARE(line->property("lineCount").toInt(), 1);
        QVERIFY2(card.contains(sceneRect(line)), qPrintable(line->objectName()));
        if (fitsWhole)
            QVERIFY2(!line->property("truncated").toBool(), qPrintable(line->objectName()));
    }

    QAccessibleInterface *node = QAccessible::queryAccessibleInterface(statusLine);
    QVERIFY(node);
    QCOMPARE(node->text(QAccessible::Name), status);
    QCOMPARE(node->text(QAccessible::Description), QDir::toNativeSeparators(path));
}

void TestSettingsScreen::daemonLine()
{
    UiShell ui;
    QVERIFY(ui.start());
    openSettings(ui, 1.0);
    QQuickItem *line = ui.item(QStringLiteral("daemonLine"));
    QCOMPARE(line->property("text").toString(), QStringLiteral("Daemon —"));
    ui.tray.setVersion(QStringLiteral("1.4.2"));
    QCOMPARE(line->property("text").toString(), QStringLiteral("Daemon v1.4.2"));
}

void TestSettingsScreen::languageButtons()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    // The language card sits in the middle of the column.
    openSettings(ui, 0.5);
    QQuickItem *en = ui.item(QStringLiteral("settingsLanguageEn"));
    QQuickItem *ru = ui.item(QStringLiteral("settingsLanguageRu"));
    QCOMPARE(en->property("color").value<QColor>(), ui.settings.accent());
    QCOMPARE(ru->property("color").value<QColor>(), ui.settings.surfaceAlt());

    ui.click(ru);
    QCOMPARE(ui.settings.language(), QStringLiteral("ru"));
    QCOMPARE(ru->property("color").value<QColor>(), ui.settings.accent());
    QCOMPARE(ui.item(QStringLiteral("logOutButton"))->property("text").toString(),
             QStringLiteral("Выйти"));
    ui.click(en);
    QCOMPARE(ui.settings.language(), QStringLiteral("en"));
}

void TestSettingsScreen::scrollsWithoutOvershoot()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.deliver("{\"type\":\"update_available\",\"update_version\":\"2.1.0\"}"));
    QVERIFY(ui.show());
    QQuickItem *settings = openSettings(ui, 0.0);
    auto range = [&] { return settings->property("contentHeight").toReal() - settings->height(); };
    QVERIFY2(range() > 0, "at the default size the column is taller than the screen");

    // Every position the view passes through, not only where it ends.
    ExtentTracker seen(settings, "contentY");
    const QPointF centre(settings->width() / 2, settings->height() / 2);
    const QPoint inWindow = settings->mapToScene(centre).toPoint();
    ulong timestamp = 1000;
    auto wheel = [&](int delta) {
        QWheelEvent event(inWindow, ui.window->mapToGlobal(inWindow), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        // Flickable works out the wheel's speed from the events' times.
        timestamp += 100;
        event.setTimestamp(timestamp);
        QCoreApplication::sendEvent(ui.window, &event);
    };
    auto contentY = [&] { return settings->property("contentY").toReal(); };
    // Turns the wheel until the view rests at the target, one notch at a
    // time, each once the previous one has moved the view.
    auto scrollTo = [&](const std::function<qreal()> &target, int delta) {
        for (int notch = 0; notch < 100 && contentY() != target(); ++notch) {
            const qreal before = contentY();
            wheel(delta);
            // Pacing only: the check after the loop decides.
            (void)QTest::qWaitFor([&] { return contentY() != before; }, 1000);
        }
        return QTest::qWaitFor([&] { return contentY() == target(); }, 5000);
    };
    QVERIFY(scrollTo(range, -120));
    QVERIFY(scrollTo([] { return 0.0; }, 120));
    QCOMPARE(seen.lowest, 0.0);
    QCOMPARE(seen.highest, range());
}

KESTRIX_UI_TEST_MAIN(TestSettingsScreen)

#include "tst_settingsscreen.moc"
