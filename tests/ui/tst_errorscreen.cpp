#include "uifixture.h"

// The error screen shown while the connection has failed.
class TestErrorScreen : public QObject
{
    Q_OBJECT

private slots:
    void detail_data();
    void detail();
    void layout_data();
    void layout();
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

namespace {

QRectF sceneRect(const QQuickItem *item)
{
    return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
}

} // namespace

// A text that fits keeps sign, title, text and button together in the
// middle of the screen; only a text that has to scroll pins the button to
// the bottom, with the text scrolling between the title and it.
void TestErrorScreen::layout_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<bool>("scrolls");

    QByteArray longError;
    while (longError.size() < 3000)
        longError += "relay 203.0.113.7 refused the tunnel\\n"; // a line each: scrolls when cut
    QTest::newRow("default, en") << "en" << QByteArray() << false;
    QTest::newRow("default, ru") << "ru" << QByteArray() << false;
    QTest::newRow("one word") << "en" << QByteArray("refused") << false;
    QTest::newRow("long, en") << "en" << longError.trimmed() << true;
    QTest::newRow("long, ru") << "ru" << longError.trimmed() << true;
}

void TestErrorScreen::layout()
{
    QFETCH(QString, language);
    QFETCH(QByteArray, error);
    QFETCH(bool, scrolls);

    UiShell ui;
    QVERIFY(ui.start());
    ui.settings.setLanguage(language);
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(UiShell::status("failed", ",\"error\":\"" + error + "\"")));
    QCOMPARE(ui.screenName(), QStringLiteral("errorScreen"));

    const QRectF screen = sceneRect(ui.screenItem());
    QQuickItem *detail = ui.item(QStringLiteral("errorDetail"));
    QQuickItem *tryAgain = ui.item(QStringLiteral("errorTryAgainButton"));
    // The column settles over the next polishes: at the bottom when the text
    // scrolls, otherwise with as much room above the sign as below the button.
    const auto offCentre = [&] {
        return (sceneRect(ui.item(QStringLiteral("errorSign"))).top() - screen.top()) -
               (screen.bottom() - sceneRect(tryAgain).bottom());
    };
    if (scrolls)
        QTRY_COMPARE(sceneRect(tryAgain).bottom(), screen.bottom() - 24);
    else
        QTRY_VERIFY2(qAbs(offCentre()) <= 1, qPrintable(QString::number(offCentre())));

    const QRectF sign = sceneRect(ui.item(QStringLiteral("errorSign")));
    const QRectF title = sceneRect(ui.item(QStringLiteral("errorTitle")));
    const QRectF text = sceneRect(detail);
    const QRectF button = sceneRect(tryAgain);
    // One column, 18 px between its items, whatever the text.
    QCOMPARE(title.top() - sign.bottom(), 18.0);
    QCOMPARE(text.top() - title.bottom(), 18.0);
    QCOMPARE(button.top() - text.bottom(), 18.0);
    QCOMPARE(detail->property("interactive").toBool(), scrolls);
    if (scrolls)
        QVERIFY(screen.contains(sign));
    else
        QVERIFY(button.bottom() < screen.bottom() - 24 - 18);
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
