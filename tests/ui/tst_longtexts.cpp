#include "ipc/daemontext.h"
#include "uifixture.h"

// A daemon's text of any length stays inside its screen: it scrolls in its
// own space, and the button under it keeps its place and takes clicks.
class TestLongTexts : public QObject
{
    Q_OBJECT

private slots:
    void buttonStaysInside_data();
    void buttonStaysInside();
    void longVersionStaysInside();
};

namespace {

// About 2,000 characters of words, or one word as long.
QByteArray longText(bool words, bool cyrillic)
{
    const QByteArray unit = cyrillic ? QByteArray("сервер отклонил соединение ")
                                     : QByteArray("relay 203.0.113.7 refused the tunnel ");
    QByteArray text;
    while (QString::fromUtf8(text).size() < 2000)
        // Words end their lines now and then, so the text still has to
        // scroll once the pipe client has cut it to its bound.
        text += words ? unit + "\\n" : unit.trimmed().replace(' ', '-');
    return text.trimmed();
}

QRectF sceneRect(const QQuickItem *item)
{
    return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
}

} // namespace

void TestLongTexts::buttonStaysInside_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QString>("textName");
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QByteArray>("error");
    // The main screen's button keeps its place; the error screen's, centred
    // with a short text, goes to the bottom for a long one.
    QTest::addColumn<bool>("keepsPlace");

    for (const char *language : {"en", "ru"}) {
        const bool ru = qstrcmp(language, "ru") == 0;
        for (bool words : {true, false}) {
            const QByteArray error = longText(words, ru);
            const char *kind = words ? "words" : "one long word";
            QTest::addRow("error screen, %s, %s", language, kind)
                << QByteArray("failed") << "errorDetail"
                << "errorTryAgainButton" << language << error << false;
            QTest::addRow("main screen, %s, %s", language, kind)
                << QByteArray("disconnected") << "errorLine"
                << "actionButton" << language << error << true;
        }
    }
}

void TestLongTexts::buttonStaysInside()
{
    QFETCH(QByteArray, state);
    QFETCH(QString, textName);
    QFETCH(QString, buttonName);
    QFETCH(QString, language);
    QFETCH(QByteArray, error);
    QFETCH(bool, keepsPlace);

    UiShell ui;
    QVERIFY(ui.start());
    ui.settings.setLanguage(language);
    QVERIFY(ui.show());

    // Where the button sits with a short text.
    QVERIFY(ui.deliver(UiShell::status(state, ",\"error\":\"short\"")));
    QQuickItem *button = ui.item(buttonName);
    QVERIFY(UiShell::shown(button));
    QTRY_VERIFY(ui.item(QStringLiteral("content"))->opacity() == 1.0);
    const QRectF shortPlace = sceneRect(button);

    QVERIFY(ui.deliver(UiShell::status(state, ",\"error\":\"" + error + "\"")));
    QQuickItem *text = ui.item(textName);
    QVERIFY(UiShell::shown(text));
    // The pipe client has cut it to its bound; what is left still scrolls.
    QCOMPARE(text->property("text").toString(),
             DaemonText::bounded(
                 QString::fromUtf8(error).replace(QStringLiteral("\\n"), QStringLiteral("\n"))));
    QCOMPARE(text->property("textFormat").toInt(), int(Qt::PlainText));
    const QRectF content = sceneRect(ui.item(QStringLiteral("content")));
    if (keepsPlace) {
        QTRY_COMPARE(sceneRect(button), shortPlace); // laid out again, in the same place
    } else {
        QTRY_COMPARE(sceneRect(button).bottom(), content.bottom() - 24);
        QVERIFY(sceneRect(button).top() > shortPlace.top());
    }

    // Inside the content area, below the text, which scrolls in its own space.
    QVERIFY2(content.contains(sceneRect(button)), qPrintable(buttonName));
    QVERIFY(content.contains(sceneRect(text)));
    QVERIFY(sceneRect(text).bottom() <= sceneRect(button).top());
    QVERIFY(text->property("contentHeight").toReal() > text->height());
    QVERIFY(text->property("interactive").toBool());

    // The whole text can be reached: with the keys once it has the focus.
    text->forceActiveFocus();
    QTest::keyClick(ui.window, Qt::Key_Down);
    QTRY_VERIFY(text->property("contentY").toReal() > 0);

    ui.click(button);
    QVERIFY(ui.waitForCommand(
        "{\"cmd\":\"connect\",\"payload\":{\"games\":false,\"whitelist\":false}}"));
}

void TestLongTexts::longVersionStaysInside()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    ui.tray.setVersion(QString::fromUtf8(longText(false, false)));

    // The settings screen wraps it within its width; the screen scrolls.
    ui.click(ui.item(QStringLiteral("settingsButton")));
    QTRY_COMPARE(ui.screenName(), QStringLiteral("settingsScreen"));
    QQuickItem *line = ui.item(QStringLiteral("daemonLine"));
    QVERIFY(line->property("lineCount").toInt() > 1);
    QVERIFY(line->property("contentWidth").toReal() <= line->width());

    // The tray popup cuts it short and keeps the room for the state.
    emit ui.tray.popupRequested(400, 500);
    auto *popup = ui.window->findChild<QQuickWindow *>(QStringLiteral("trayPopup"));
    QVERIFY(popup);
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    QQuickItem *version = findItem(popup->contentItem(), QStringLiteral("versionLabel"));
    QQuickItem *state = findItem(popup->contentItem(), QStringLiteral("stateLine"));
    QTRY_VERIFY(version->width() <= 90);
    QVERIFY(state->width() >= 100);
}

KESTRIX_UI_TEST_MAIN(TestLongTexts)

#include "tst_longtexts.moc"
