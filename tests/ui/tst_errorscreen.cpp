#include "uifixture.h"

// The error screen shown while the connection has failed.
class TestErrorScreen : public QObject
{
    Q_OBJECT

private slots:
    void detail_data();
    void detail();
    void tryAgainSendsCurrentPreferences();
    void leavesWhenTheStateMovesOn();
};

void TestErrorScreen::detail_data()
{
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("detail");

    QTest::newRow("default, en")
        << QByteArray() << "en"
        << "Connection failed"
        << "All transports were exhausted. Check your internet connection and try again.";
    QTest::newRow("default, ru")
        << QByteArray() << "ru"
        << "Сбой подключения"
        << "Все транспорты исчерпаны. Проверьте интернет-соединение и повторите попытку.";
    QTest::newRow("daemon text, ru") << QByteArray("handshake refused by 203.0.113.7") << "ru"
                                     << "Сбой подключения"
                                     << "handshake refused by 203.0.113.7";
    QTest::newRow("markup stays text") << QByteArray("<b>bold</b> &amp; <img src=x>") << "en"
                                       << "Connection failed"
                                       << "<b>bold</b> &amp; <img src=x>";
}

void TestErrorScreen::detail()
{
    QFETCH(QByteArray, error);
    QFETCH(QString, language);
    QFETCH(QString, title);
    QFETCH(QString, detail);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.deliver(UiShell::status("failed", ",\"error\":\"" + error + "\"")));
    QCOMPARE(ui.screenName(), QStringLiteral("errorScreen"));
    ui.settings.setLanguage(language);

    QCOMPARE(ui.item(QStringLiteral("errorTitle"))->property("text").toString(), title);
    QQuickItem *text = ui.item(QStringLiteral("errorDetail"));
    QCOMPARE(text->property("text").toString(), detail);
    QCOMPARE(text->property("textFormat").toInt(), int(Qt::PlainText));
}

void TestErrorScreen::tryAgainSendsCurrentPreferences()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(UiShell::status("failed")));
    QQuickItem *button = ui.item(QStringLiteral("errorTryAgainButton"));

    ui.click(button);
    QVERIFY(ui.waitForCommand(
        "{\"cmd\":\"connect\",\"payload\":{\"games\":false,\"whitelist\":false}}"));
    // Changed in the settings meanwhile: the next click sends the new values,
    // and the button takes every click.
    ui.settings.setWhitelist(true);
    ui.settings.setGames(true);
    ui.click(button);
    QVERIFY(
        ui.waitForCommand("{\"cmd\":\"connect\",\"payload\":{\"games\":true,\"whitelist\":true}}"));
}

void TestErrorScreen::leavesWhenTheStateMovesOn()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.deliver(UiShell::status("failed")));
    QCOMPARE(ui.screenName(), QStringLiteral("errorScreen"));
    QVERIFY(ui.deliver(UiShell::status("connecting")));
    QCOMPARE(ui.screenName(), QStringLiteral("mainScreen"));
}

KESTRIX_UI_TEST_MAIN(TestErrorScreen)

#include "tst_errorscreen.moc"
