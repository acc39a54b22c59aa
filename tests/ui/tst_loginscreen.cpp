#include "uifixture.h"

#include "loopbackclient.h"

#include <QDateTime>
#include <QDesktopServices>

#include <climits>

// Stands in for the browser: records what the interface hands to the desktop
// and, for the loopback hand-off's address, where its page forwards to. The
// page is fetched when a test first asks where the browser landed (the
// interface serves it from the test's own event loop), and only once, as a
// browser would.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> handed;
    // Where the browser lands.
    QList<QUrl> opened()
    {
        while (m_landed.size() < handed.size()) {
            const QUrl url = handed.at(m_landed.size());
            m_landed.append(isHandoff(url) ? forwardOf(url) : url);
        }
        return m_landed;
    }
    static bool isHandoff(const QUrl &url)
    {
        return url.scheme() == QLatin1String("http") && url.host() == QLatin1String("127.0.0.1") &&
               url.path().size() > 20;
    }
public slots:
    void open(const QUrl &url) { handed.append(url); }

private:
    static QUrl forwardOf(const QUrl &handoff)
    {
        const QByteArray response = loopbackGet(handoff);
        if (!response.startsWith("HTTP/1.1 200 "))
            return QUrl(QStringLiteral("unserved:") + handoff.toString());
        const QByteArray html = httpBody(response);
        const QByteArray start = "<a href=\"";
        const qsizetype from = html.indexOf(start) + start.size();
        const QByteArray href = html.mid(from, html.indexOf('"', from) - from);
        return QUrl(QString::fromUtf8(href).replace(QLatin1String("&amp;"), QLatin1String("&")));
    }
    QList<QUrl> m_landed;
};

// The sign-in screen as the shell drives it from the daemon's events.
class TestLoginScreen : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void countdown_data();
    void countdown();
    void runOutCancelsAndReturnsToIdle();
    void pastOrUnparsableExpiryIsExpired_data();
    void pastOrUnparsableExpiryIsExpired();
    void farExpiryIsClamped();
    void sameOfferOnlyMovesTheExpiry();
    void newerOfferReplacesTheOneServed();
    void doubleClickOpensOnePage();
    void onlySafeUrlsAreOpened_data();
    void onlySafeUrlsAreOpened();
    void failedPageShownUntilTheNextSignIn_data();
    void failedPageShownUntilTheNextSignIn();
    void unaskedOffersAreIgnored_data();
    void unaskedOffersAreIgnored();
    void pageStaysPrivate();
    void handoffClosedWhenTheSignInEnds_data();
    void handoffClosedWhenTheSignInEnds();
    void buttons_data();
    void buttons();
    void loginFailedReturnsToIdle();
    void languageButtonsSwitchTexts();

private:
    static QByteArray browserOpened(const QByteArray &url, const QByteArray &expiresAt)
    {
        return "{\"type\":\"browser_opened\",\"login_url\":\"" + url + "\",\"expires_at\":\"" +
               expiresAt + "\"}";
    }
    static QByteArray inMs(qint64 ms)
    {
        return QDateTime::currentDateTimeUtc().addMSecs(ms).toString(Qt::ISODateWithMs).toUtf8();
    }
    // The user asks for a sign-in, as with the sign-in button.
    static bool askForSignIn(UiShell &ui)
    {
        if (!ui.window->isExposed() && !ui.show())
            return false;
        ui.click(ui.item(QStringLiteral("signInButton")));
        return ui.waitForCommand("{\"cmd\":\"login_start\"}");
    }
    // Whether anybody still listens at the hand-off's address the browser was
    // handed last (without fetching its page).
    bool handoffListening() const
    {
        if (m_sink->handed.isEmpty())
            return false;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(m_sink->handed.constLast().port()));
        return probe.waitForConnected(2000);
    }
    static QString state(UiShell &ui)
    {
        const bool idle = UiShell::shown(ui.item(QStringLiteral("signInButton")));
        const bool waiting = UiShell::shown(ui.item(QStringLiteral("cancelButton")));
        const bool expired = UiShell::shown(ui.item(QStringLiteral("tryAgainButton")));
        if (idle + waiting + expired != 1)
            return QStringLiteral("mixed");
        return idle      ? QStringLiteral("idle")
               : waiting ? QStringLiteral("waiting")
                         : QStringLiteral("expired");
    }

    UrlSink *m_sink = nullptr;
    const QStringList m_schemes = {QStringLiteral("https"), QStringLiteral("http"),
                                   QStringLiteral("file"), QStringLiteral("ftp"),
                                   QStringLiteral("javascript")};
};

void TestLoginScreen::init()
{
    m_sink = new UrlSink;
    for (const QString &scheme : m_schemes)
        QDesktopServices::setUrlHandler(scheme, m_sink, "open");
}

void TestLoginScreen::cleanup()
{
    for (const QString &scheme : m_schemes)
        QDesktopServices::unsetUrlHandler(scheme);
    delete m_sink;
}

void TestLoginScreen::countdown_data()
{
    QTest::addColumn<int>("remainingMs");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("colour"); // a palette property

    QTest::newRow("121 s") << 121000 << "Expires in 2:01"
                           << "success";
    QTest::newRow("120 s") << 120999 << "Expires in 2:00"
                           << "warning";
    QTest::newRow("61 s") << 61000 << "Expires in 1:01"
                          << "warning";
    QTest::newRow("60 s") << 60999 << "Expires in 1:00"
                          << "danger";
    QTest::newRow("last second") << 999 << "Expires in 0:00"
                                 << "danger";
    QTest::newRow("4:59") << 299999 << "Expires in 4:59"
                          << "success";
    QTest::newRow("75 minutes") << 4500000 << "Expires in 75:00"
                                << "success";
}

void TestLoginScreen::countdown()
{
    QFETCH(int, remainingMs);
    QFETCH(QString, text);
    QFETCH(QString, colour);

    UiShell ui;
    QVERIFY(ui.start(false));
    QQuickItem *login = ui.screenItem();
    login->setProperty("waitingForBrowser", true);
    login->setProperty("remainingMs", remainingMs);

    QQuickItem *line = ui.item(QStringLiteral("countdownLine"));
    QVERIFY(UiShell::shown(line));
    QCOMPARE(line->property("text").toString(), text);
    QCOMPARE(line->property("color").value<QColor>(),
             ui.settings.property(colour.toUtf8()).value<QColor>());
}

void TestLoginScreen::runOutCancelsAndReturnsToIdle()
{
    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/a", inMs(4500))));
    QCOMPARE(state(ui), QStringLiteral("waiting"));
    QVERIFY(!ui.daemon.lines().contains("{\"cmd\":\"login_cancel\"}"));
    QVERIFY(handoffListening());

    QVERIFY(ui.waitForCommand("{\"cmd\":\"login_cancel\"}", 10000));
    QCOMPARE(state(ui), QStringLiteral("idle"));
    QCOMPARE(ui.screenItem()->property("remainingMs").toInt(), 0);
    QVERIFY(!handoffListening());

    // A second attempt on the same screen counts down afresh.
    ui.daemon.clearLines();
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/b", inMs(3500))));
    QCOMPARE(state(ui), QStringLiteral("waiting"));
    QVERIFY(ui.waitForCommand("{\"cmd\":\"login_cancel\"}", 10000));
    QCOMPARE(state(ui), QStringLiteral("idle"));
}

void TestLoginScreen::pastOrUnparsableExpiryIsExpired_data()
{
    QTest::addColumn<QByteArray>("expiresAt");
    QTest::newRow("past") << QByteArray("2001-01-01T00:00:00Z");
    QTest::newRow("now") << inMs(-1);
    QTest::newRow("unparsable") << QByteArray("next tuesday");
    QTest::newRow("empty") << QByteArray();
}

void TestLoginScreen::pastOrUnparsableExpiryIsExpired()
{
    QFETCH(QByteArray, expiresAt);

    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/x", expiresAt)));
    QCOMPARE(state(ui), QStringLiteral("expired"));
    QCOMPARE(ui.screenItem()->property("remainingMs").toInt(), 0);
    QVERIFY(!UiShell::shown(ui.item(QStringLiteral("countdownLine"))));
    // The browser is opened all the same.
    QCOMPARE(m_sink->opened(), QList<QUrl>{QUrl(QStringLiteral("https://sign.example/x"))});
}

void TestLoginScreen::farExpiryIsClamped()
{
    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    QVERIFY(
        ui.deliver(browserOpened("https://sign.example/x", inMs(qint64(60) * 24 * 3600 * 1000))));
    QCOMPARE(ui.screenItem()->property("remainingMs").toInt(), INT_MAX);
    QCOMPARE(state(ui), QStringLiteral("waiting"));
    QCOMPARE(ui.item(QStringLiteral("countdownLine"))->property("text").toString(),
             QStringLiteral("Expires in 35791:23"));
}

// The same page offered again only moves its expiry.
void TestLoginScreen::sameOfferOnlyMovesTheExpiry()
{
    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/first", inMs(600000))));
    const QByteArray secondExpiry = inMs(180000);
    QVERIFY(ui.deliver(browserOpened("https://sign.example/first", secondExpiry)));

    QQuickItem *login = ui.screenItem();
    QCOMPARE(login->property("loginUrl").toString(), QStringLiteral("https://sign.example/first"));
    QCOMPARE(login->property("expiresAt").toString(), QString::fromUtf8(secondExpiry));
    const int remaining = login->property("remainingMs").toInt();
    QVERIFY2(remaining > 150000 && remaining <= 180000, QByteArray::number(remaining));
    QCOMPARE(state(ui), QStringLiteral("waiting"));
    QCOMPARE(m_sink->handed.size(), 1);
    QCOMPARE(m_sink->opened(), QList<QUrl>{QUrl(QStringLiteral("https://sign.example/first"))});
}

// A newer offer while a sign-in is open is the one that counts: its URL,
// expiry and countdown replace the old ones, and it is the page the browser
// gets; no second browser opens for it.
void TestLoginScreen::newerOfferReplacesTheOneServed()
{
    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/first", inMs(600000))));
    QCOMPARE(ui.screenItem()->property("remainingMs").toInt() > 500000, true);
    const QByteArray newerExpiry = inMs(180000);
    QVERIFY(ui.deliver(browserOpened("https://sign.example/second", newerExpiry)));

    QQuickItem *login = ui.screenItem();
    QCOMPARE(login->property("loginUrl").toString(), QStringLiteral("https://sign.example/second"));
    QCOMPARE(login->property("expiresAt").toString(), QString::fromUtf8(newerExpiry));
    const int remaining = login->property("remainingMs").toInt();
    QVERIFY2(remaining > 150000 && remaining <= 180000, QByteArray::number(remaining));
    QVERIFY(login->findChild<QObject *>(QStringLiteral("countdown"))->property("running").toBool());
    // Counted down from the newer expiry (three minutes), not the first (ten).
    QVERIFY(ui.item(QStringLiteral("countdownLine"))
                ->property("text")
                .toString()
                .contains(QRegularExpression(QStringLiteral("^Expires in (2:\\d\\d|3:00)$"))));
    QCOMPARE(state(ui), QStringLiteral("waiting"));
    QCOMPARE(m_sink->handed.size(), 1);
    QCOMPARE(m_sink->opened(), QList<QUrl>{QUrl(QStringLiteral("https://sign.example/second"))});
}

// Two clicks before the daemon answers send two requests; their two offers
// open one page, which forwards to the newer one.
void TestLoginScreen::doubleClickOpensOnePage()
{
    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(ui.show());
    QQuickItem *button = ui.item(QStringLiteral("signInButton"));
    ui.click(button);
    ui.click(button);
    QTRY_COMPARE(ui.daemon.lines().count("{\"cmd\":\"login_start\"}"), 2);
    QVERIFY(ui.deliver({browserOpened("https://sign.example/one", inMs(300000)),
                        browserOpened("https://sign.example/two", inMs(300000))}));

    QCOMPARE(m_sink->handed.size(), 1);
    QCOMPARE(ui.screenItem()->property("loginUrl").toString(),
             QStringLiteral("https://sign.example/two"));
    QCOMPARE(m_sink->opened(), QList<QUrl>{QUrl(QStringLiteral("https://sign.example/two"))});
    QCOMPARE(state(ui), QStringLiteral("waiting"));
}

void TestLoginScreen::onlySafeUrlsAreOpened_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<bool>("opened");

    QTest::newRow("https") << QByteArray("https://sign.example/login?c=1") << true;
    QTest::newRow("https, upper-case scheme") << QByteArray("HTTPS://sign.example/") << true;
    QTest::newRow("http, 127.0.0.1") << QByteArray("http://127.0.0.1:8080/login") << true;
    QTest::newRow("http, localhost") << QByteArray("http://localhost/login") << true;
    QTest::newRow("http, ::1") << QByteArray("http://[::1]:9000/login") << true;
    QTest::newRow("http, remote host") << QByteArray("http://sign.example/login") << false;
    QTest::newRow("http, localhost as a prefix")
        << QByteArray("http://localhost.evil.example/") << false;
    QTest::newRow("http, loopback as user name")
        << QByteArray("http://127.0.0.1@evil.example/") << false;
    QTest::newRow("file") << QByteArray("file:///etc/passwd") << false;
    QTest::newRow("ftp") << QByteArray("ftp://sign.example/") << false;
    QTest::newRow("javascript") << QByteArray("javascript:alert(1)") << false;
    QTest::newRow("https without host") << QByteArray("https://") << false;
    QTest::newRow("malformed") << QByteArray("not a url") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestLoginScreen::onlySafeUrlsAreOpened()
{
    QFETCH(QByteArray, url);
    QFETCH(bool, opened);

    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    ui.daemon.clearLines();
    QVERIFY(ui.deliver(browserOpened(url, inMs(300000))));

    QCOMPARE(m_sink->opened().size(), opened ? 1 : 0);
    const QByteArray cancel = "{\"cmd\":\"login_cancel\"}";
    if (opened) {
        QCOMPARE(m_sink->opened().constFirst(), QUrl(QString::fromUtf8(url)));
        QCOMPARE(state(ui), QStringLiteral("waiting"));
        QVERIFY(!UiShell::shown(ui.item(QStringLiteral("pageFailedLine"))));
        QVERIFY(!ui.daemon.lines().contains(cancel));
    } else {
        // No waiting for a page nobody sees: back to the sign-in button, with
        // the reason, and the daemon stops waiting too.
        QCOMPARE(state(ui), QStringLiteral("idle"));
        QVERIFY(UiShell::shown(ui.item(QStringLiteral("pageFailedLine"))));
        QVERIFY(ui.waitForCommand(cancel));
        QCOMPARE(ui.screenItem()->property("loginUrl").toString(), QString());
        QVERIFY(m_sink->handed.isEmpty());
    }
}

void TestLoginScreen::failedPageShownUntilTheNextSignIn_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("text");
    QTest::newRow("en") << "en"
                        << "The sign-in page could not be opened";
    QTest::newRow("ru") << "ru" << QString::fromUtf8("Не удалось открыть страницу входа");
}

void TestLoginScreen::failedPageShownUntilTheNextSignIn()
{
    QFETCH(QString, language);
    QFETCH(QString, text);

    UiShell ui;
    QVERIFY(ui.start(false));
    ui.settings.setLanguage(language);
    QQuickItem *line = ui.item(QStringLiteral("pageFailedLine"));
    QVERIFY(!UiShell::shown(line));
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("http://sign.example/", inMs(300000))));
    QVERIFY(UiShell::shown(line));
    QCOMPARE(line->property("text").toString(), text);
    QCOMPARE(line->property("color").value<QColor>(),
             ui.settings.property("danger").value<QColor>());

    // Signing in again takes the message away, and this time the page opens.
    QVERIFY(askForSignIn(ui));
    QVERIFY(!UiShell::shown(line));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/", inMs(300000))));
    QCOMPARE(state(ui), QStringLiteral("waiting"));
    QCOMPARE(m_sink->opened(), QList<QUrl>{QUrl(QStringLiteral("https://sign.example/"))});
}

// Only a sign-in asked for here may open a browser, and only once: offers
// the user did not ask for leave the screen and the desktop alone.
void TestLoginScreen::unaskedOffersAreIgnored_data()
{
    QTest::addColumn<QString>("before");
    QTest::newRow("never asked") << "";
    QTest::newRow("after cancelling") << "ask offer cancel";
    QTest::newRow("after a failed sign-in") << "ask offer failed";
    QTest::newRow("after a refused page") << "ask refused";
}

void TestLoginScreen::unaskedOffersAreIgnored()
{
    QFETCH(QString, before);

    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(ui.show());
    for (const QString &step : before.split(u' ', Qt::SkipEmptyParts)) {
        if (step == QLatin1String("ask"))
            QVERIFY(askForSignIn(ui));
        else if (step == QLatin1String("offer"))
            QVERIFY(ui.deliver(browserOpened("https://sign.example/mine", inMs(300000))));
        else if (step == QLatin1String("refused"))
            QVERIFY(ui.deliver(browserOpened("file:///etc/passwd", inMs(300000))));
        else if (step == QLatin1String("cancel"))
            ui.click(ui.item(QStringLiteral("cancelButton")));
        else if (step == QLatin1String("failed"))
            QVERIFY(ui.deliver("{\"type\":\"login_failed\",\"error\":\"denied\"}"));
    }
    QCOMPARE(state(ui), QStringLiteral("idle"));
    const qsizetype openedBefore = m_sink->opened().size();
    const bool failedShown = UiShell::shown(ui.item(QStringLiteral("pageFailedLine")));
    const QString urlBefore = ui.screenItem()->property("loginUrl").toString();

    QList<QByteArray> flood;
    for (int i = 0; i < 300; ++i)
        flood.append(browserOpened("https://sign.example/" + QByteArray::number(i), inMs(300000)));
    QVERIFY(ui.deliver(flood));

    QCOMPARE(m_sink->opened().size(), openedBefore);
    QCOMPARE(state(ui), QStringLiteral("idle"));
    QCOMPARE(ui.screenItem()->property("loginUrl").toString(), urlBefore);
    QCOMPARE(UiShell::shown(ui.item(QStringLiteral("pageFailedLine"))), failedShown);
    QVERIFY(!handoffListening());
}

// The browser is handed the hand-off's address on this machine's loopback,
// not the URL: a command line shows nothing of the sign-in code.
void TestLoginScreen::pageStaysPrivate()
{
    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/device?code=KX-4821", inMs(300000))));

    QCOMPARE(m_sink->handed.size(), 1);
    const QUrl handed = m_sink->handed.constFirst();
    QVERIFY2(UrlSink::isHandoff(handed), qPrintable(handed.toString()));
    QVERIFY(!handed.toString().contains(QLatin1String("KX-4821")));
    QVERIFY(!handed.toString().contains(QLatin1String("sign.example")));
    QCOMPARE(m_sink->opened(),
             QList<QUrl>{QUrl(QStringLiteral("https://sign.example/device?code=KX-4821"))});
    // Served once: the address is worth nothing afterwards.
    QCOMPARE(loopbackGet(handed), QByteArray());
}

void TestLoginScreen::handoffClosedWhenTheSignInEnds_data()
{
    QTest::addColumn<QByteArray>("event"); // from the daemon; empty: a button
    QTest::addColumn<QString>("button");
    QTest::newRow("cancelled") << QByteArray() << "cancelButton";
    QTest::newRow("failed") << QByteArray("{\"type\":\"login_failed\",\"error\":\"denied\"}") << "";
    QTest::newRow("completed") << QByteArray("{\"type\":\"login_complete\"}") << "";
    QTest::newRow("signed in by a status") << UiShell::status("disconnected") << "";
}

void TestLoginScreen::handoffClosedWhenTheSignInEnds()
{
    QFETCH(QByteArray, event);
    QFETCH(QString, button);

    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/x", inMs(300000))));
    QVERIFY(handoffListening());

    if (!event.isEmpty())
        QVERIFY(ui.deliver(event));
    else
        ui.click(ui.item(button));
    QTRY_VERIFY(!handoffListening());
    QCOMPARE(loopbackGet(m_sink->handed.constFirst()), QByteArray());
}

void TestLoginScreen::buttons_data()
{
    QTest::addColumn<QByteArray>("expiresAt"); // empty: start idle
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("command");

    QTest::newRow("sign in") << QByteArray() << "signInButton"
                             << QByteArray("{\"cmd\":\"login_start\"}");
    QTest::newRow("cancel") << inMs(300000) << "cancelButton"
                            << QByteArray("{\"cmd\":\"login_cancel\"}");
    QTest::newRow("try again") << QByteArray("2001-01-01T00:00:00Z") << "tryAgainButton"
                               << QByteArray("{\"cmd\":\"login_start\"}");
}

void TestLoginScreen::buttons()
{
    QFETCH(QByteArray, expiresAt);
    QFETCH(QString, button);
    QFETCH(QByteArray, command);

    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(ui.show());
    if (!expiresAt.isEmpty()) {
        QVERIFY(askForSignIn(ui));
        QVERIFY(ui.deliver(browserOpened("https://sign.example/x", expiresAt)));
    }
    ui.daemon.clearLines();

    ui.click(ui.item(button));
    QVERIFY(ui.waitForCommand(command));
    QCOMPARE(ui.daemon.lines().size(), 1);
    QCOMPARE(state(ui), QStringLiteral("idle"));
    QQuickItem *login = ui.screenItem();
    QCOMPARE(login->property("loginUrl").toString(), QString());
    QCOMPARE(login->property("expiresAt").toString(), QString());
    QCOMPARE(login->property("remainingMs").toInt(), 0);
    QVERIFY(
        !login->findChild<QObject *>(QStringLiteral("countdown"))->property("running").toBool());
}

void TestLoginScreen::loginFailedReturnsToIdle()
{
    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/x", inMs(300000))));
    QCOMPARE(state(ui), QStringLiteral("waiting"));

    QVERIFY(ui.deliver("{\"type\":\"login_failed\",\"error\":\"denied\"}"));
    QCOMPARE(state(ui), QStringLiteral("idle"));
    QCOMPARE(ui.screenItem()->property("remainingMs").toInt(), 0);
    // Failed silently: the daemon's error is not a page that failed to open.
    QVERIFY(!UiShell::shown(ui.item(QStringLiteral("pageFailedLine"))));
}

void TestLoginScreen::languageButtonsSwitchTexts()
{
    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(ui.show());
    QQuickItem *title = ui.item(QStringLiteral("loginTitle"));
    QCOMPARE(title->property("text").toString(), QStringLiteral("Welcome to Kestrix"));

    ui.click(ui.item(QStringLiteral("languageRu")));
    QCOMPARE(ui.settings.language(), QStringLiteral("ru"));
    QCOMPARE(title->property("text").toString(), QStringLiteral("Добро пожаловать в Kestrix"));
    ui.click(ui.item(QStringLiteral("languageEn")));
    QCOMPARE(title->property("text").toString(), QStringLiteral("Welcome to Kestrix"));
}

KESTRIX_UI_TEST_MAIN(TestLoginScreen)

#include "tst_loginscreen.moc"
