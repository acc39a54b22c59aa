#include "uifixture.h"

#include <QDateTime>
#include <QDesktopServices>

#include <climits>

// Stands in for the browser: records what the interface hands to the desktop
// and, for a forwarding page, where it forwards to (read while it exists).
class UrlSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> handed;
    QList<QUrl> opened; // where the browser lands
public slots:
    void open(const QUrl &url)
    {
        handed.append(url);
        opened.append(url.isLocalFile() ? forwardOf(url.toLocalFile()) : url);
    }

private:
    static QUrl forwardOf(const QString &page)
    {
        QFile file(page);
        if (!file.open(QIODevice::ReadOnly))
            return QUrl(QStringLiteral("unreadable:") + page);
        const QByteArray html = file.readAll();
        const QByteArray start = "<a href=\"";
        const qsizetype from = html.indexOf(start) + start.size();
        const QByteArray href = html.mid(from, html.indexOf('"', from) - from);
        return QUrl(QString::fromUtf8(href).replace(QLatin1String("&amp;"), QLatin1String("&")));
    }
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
    void laterOffersOnlyMoveTheExpiry();
    void onlySafeUrlsAreOpened_data();
    void onlySafeUrlsAreOpened();
    void failedPageShownUntilTheNextSignIn_data();
    void failedPageShownUntilTheNextSignIn();
    void unaskedOffersAreIgnored_data();
    void unaskedOffersAreIgnored();
    void pageStaysPrivate();
    void pageRemovedWhenTheSignInEnds_data();
    void pageRemovedWhenTheSignInEnds();
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
    static QStringList pages()
    {
        return QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
            .entryList({QStringLiteral("*.html")}, QDir::Files | QDir::System);
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
    QVERIFY(pages().isEmpty());
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
    QCOMPARE(pages().size(), 1);

    QVERIFY(ui.waitForCommand("{\"cmd\":\"login_cancel\"}", 10000));
    QCOMPARE(state(ui), QStringLiteral("idle"));
    QCOMPARE(ui.screenItem()->property("remainingMs").toInt(), 0);
    QVERIFY(pages().isEmpty());

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
    QCOMPARE(m_sink->opened, QList<QUrl>{QUrl(QStringLiteral("https://sign.example/x"))});
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

// One sign-in opens one browser: the same page offered again only moves its
// expiry, and another page while one is open changes nothing.
void TestLoginScreen::laterOffersOnlyMoveTheExpiry()
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
    int remaining = login->property("remainingMs").toInt();
    QVERIFY2(remaining > 150000 && remaining <= 180000, QByteArray::number(remaining));
    QCOMPARE(state(ui), QStringLiteral("waiting"));

    QVERIFY(ui.deliver(browserOpened("https://sign.example/second", inMs(900000))));
    QCOMPARE(login->property("loginUrl").toString(), QStringLiteral("https://sign.example/first"));
    QCOMPARE(login->property("expiresAt").toString(), QString::fromUtf8(secondExpiry));
    remaining = login->property("remainingMs").toInt();
    QVERIFY2(remaining > 150000 && remaining <= 180000, QByteArray::number(remaining));
    QCOMPARE(m_sink->opened, QList<QUrl>{QUrl(QStringLiteral("https://sign.example/first"))});
    QCOMPARE(pages().size(), 1);
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

    QCOMPARE(m_sink->opened.size(), opened ? 1 : 0);
    const QByteArray cancel = "{\"cmd\":\"login_cancel\"}";
    if (opened) {
        QCOMPARE(m_sink->opened.constFirst(), QUrl(QString::fromUtf8(url)));
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
        QVERIFY(pages().isEmpty());
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
    QCOMPARE(m_sink->opened, QList<QUrl>{QUrl(QStringLiteral("https://sign.example/"))});
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
    const qsizetype openedBefore = m_sink->opened.size();
    const bool failedShown = UiShell::shown(ui.item(QStringLiteral("pageFailedLine")));
    const QString urlBefore = ui.screenItem()->property("loginUrl").toString();

    QList<QByteArray> flood;
    for (int i = 0; i < 300; ++i)
        flood.append(browserOpened("https://sign.example/" + QByteArray::number(i), inMs(300000)));
    QVERIFY(ui.deliver(flood));

    QCOMPARE(m_sink->opened.size(), openedBefore);
    QCOMPARE(state(ui), QStringLiteral("idle"));
    QCOMPARE(ui.screenItem()->property("loginUrl").toString(), urlBefore);
    QCOMPARE(UiShell::shown(ui.item(QStringLiteral("pageFailedLine"))), failedShown);
    QVERIFY(pages().isEmpty());
}

// The browser is handed a private file, not the URL: a command line shows
// nothing of the sign-in code.
void TestLoginScreen::pageStaysPrivate()
{
    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/device?code=KX-4821", inMs(300000))));

    QCOMPARE(m_sink->handed.size(), 1);
    const QUrl handed = m_sink->handed.constFirst();
    QVERIFY2(handed.isLocalFile(), qPrintable(handed.toString()));
    QVERIFY(!handed.toString().contains(QLatin1String("KX-4821")));
    QCOMPARE(QFileInfo(handed.toLocalFile()).absolutePath(),
             QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).absolutePath());
    QCOMPARE(QFileInfo(handed.toLocalFile()).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
             QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(m_sink->opened,
             QList<QUrl>{QUrl(QStringLiteral("https://sign.example/device?code=KX-4821"))});
}

void TestLoginScreen::pageRemovedWhenTheSignInEnds_data()
{
    QTest::addColumn<QByteArray>("event"); // from the daemon; empty: a button
    QTest::addColumn<QString>("button");
    QTest::newRow("cancelled") << QByteArray() << "cancelButton";
    QTest::newRow("failed") << QByteArray("{\"type\":\"login_failed\",\"error\":\"denied\"}") << "";
    QTest::newRow("completed") << QByteArray("{\"type\":\"login_complete\"}") << "";
    QTest::newRow("signed in by a status") << UiShell::status("disconnected") << "";
}

void TestLoginScreen::pageRemovedWhenTheSignInEnds()
{
    QFETCH(QByteArray, event);
    QFETCH(QString, button);

    UiShell ui;
    QVERIFY(ui.start(false));
    QVERIFY(askForSignIn(ui));
    QVERIFY(ui.deliver(browserOpened("https://sign.example/x", inMs(300000))));
    QCOMPARE(pages().size(), 1);

    if (!event.isEmpty())
        QVERIFY(ui.deliver(event));
    else
        ui.click(ui.item(button));
    QTRY_VERIFY(pages().isEmpty());
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
