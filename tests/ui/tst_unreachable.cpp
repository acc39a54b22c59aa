#include "uifixture.h"

#include <QAccessible>
#include <QRegularExpression>

// While the daemon cannot be reached, the login screen says so, says when
// the next attempt comes, and offers to try at once.
class TestUnreachable : public QObject
{
    Q_OBJECT

private slots:
    void lineAndRetryNow_data();
    void lineAndRetryNow();
    void signInTriesAtOnce();
};

namespace {

// A quick round over in a moment, and a steady wait no test run reaches: any
// attempt after the round is one the user asked for.
ReconnectTimings shortRoundThenLongWait()
{
    ReconnectTimings t;
    t.quickDelayMs = 20;
    t.backoffMs = {};
    t.steadyDelayMs = 600000;
    return t;
}

// The daemon goes away and the quick round runs out.
bool loseDaemon(UiShell &ui)
{
    ui.pipe.setReconnectTimings(shortRoundThenLongWait());
    ui.daemon.stopListening();
    ui.daemon.drop();
    return QTest::qWaitFor([&] { return ui.pipe.daemonUnreachable(); }, 10000);
}

} // namespace

void TestUnreachable::lineAndRetryNow_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("activation");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<QString>("nextAttempt");
    QTest::addColumn<QString>("button");

    QTest::newRow("en, click") << "en"
                               << "click"
                               << "The Kestrix service is not reachable"
                               << "Next attempt at"
                               << "Retry now";
    QTest::newRow("ru, click") << "ru"
                               << "click"
                               << "Служба Kestrix недоступна"
                               << "Следующая попытка в"
                               << "Повторить сейчас";
    QTest::newRow("en, space") << "en"
                               << "space"
                               << "The Kestrix service is not reachable"
                               << "Next attempt at"
                               << "Retry now";
    QTest::newRow("en, enter") << "en"
                               << "enter"
                               << "The Kestrix service is not reachable"
                               << "Next attempt at"
                               << "Retry now";
}

void TestUnreachable::lineAndRetryNow()
{
    QFETCH(QString, language);
    QFETCH(QString, activation);
    QFETCH(QString, firstLine);
    QFETCH(QString, nextAttempt);
    QFETCH(QString, button);

    UiShell ui;
    QVERIFY(ui.start(false));
    ui.settings.setLanguage(language);
    QVERIFY(ui.show());
    QQuickItem *line = ui.item(QStringLiteral("unreachableLine"));
    QQuickItem *retry = ui.item(QStringLiteral("retryNowButton"));
    QVERIFY(line && retry);
    QVERIFY(!UiShell::shown(line));
    QVERIFY(!UiShell::shown(retry));

    QVERIFY(loseDaemon(ui));
    QVERIFY(UiShell::shown(line));
    QVERIFY(UiShell::shown(retry));
    const QStringList lines = line->property("text").toString().split(u'\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), firstLine);
    QVERIFY2(QRegularExpression(QRegularExpression::escape(nextAttempt) +
                                QStringLiteral(" \\d\\d:\\d\\d:\\d\\d$"))
                 .match(lines.at(1))
                 .hasMatch(),
             qPrintable(lines.at(1)));
    QCOMPARE(retry->property("text").toString(), button);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(retry);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Button);
    QCOMPARE(accessible->text(QAccessible::Name), button);

    // The daemon is back; the schedule would wait for minutes, the button not.
    QVERIFY(ui.daemon.listen());
    const int before = ui.daemon.connections();
    if (activation == QLatin1String("click")) {
        ui.click(retry);
    } else {
        retry->forceActiveFocus();
        QTest::keyClick(ui.window,
                        activation == QLatin1String("space") ? Qt::Key_Space : Qt::Key_Return);
    }
    QVERIFY(ui.daemon.waitForConnection(before + 1));
    QTRY_COMPARE(line->property("text").toString().split(u'\n').value(1),
                 ui.settings.t().value(QStringLiteral("statusConnecting")).toString());

    // Answered: the line and the button go.
    QVERIFY2(ui.daemon.send(R"({"type":"ready","version":"1.0"})"), "no client connected");
    QTRY_VERIFY(!UiShell::shown(line));
    QVERIFY(!UiShell::shown(retry));
}

void TestUnreachable::signInTriesAtOnce()
{
    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(ui.show());
    QVERIFY(loseDaemon(ui));
    QVERIFY(ui.daemon.listen());
    const int before = ui.daemon.connections();
    ui.click(ui.item(QStringLiteral("signInButton")));
    QVERIFY(ui.daemon.waitForConnection(before + 1));
}

KESTRIX_UI_TEST_MAIN(TestUnreachable)

#include "tst_unreachable.moc"
