#include "app/signinflow.h"
#include "app/signinpage.h"

#include "loopbackclient.h"

#include <QtTest>

#include <memory>

using Answer = SignInFlow::Answer;

// A sign-in as the login screen drives it, with a browser that records what
// it is handed.
struct Fixture
{
    QList<QUrl> opened;
    bool browserWorks = true;
    std::unique_ptr<SignInFlow> flow;

    explicit Fixture(SignInFlow::Handover handover = SignInFlow::Handover::Loopback)
        : flow(std::make_unique<SignInFlow>(handover, [this](const QUrl &url) {
              opened.append(url);
              return browserWorks;
          }))
    {
    }
    // Where the page at a hand-off's address forwards to, read back from its
    // link as the browser fetches it; or what went wrong.
    static QString forwardOf(const QUrl &handed)
    {
        const QByteArray response = loopbackGet(handed);
        if (!response.startsWith("HTTP/1.1 200 "))
            return QStringLiteral("<not served: %1>").arg(QString::fromLatin1(response.left(20)));
        const QByteArray html = httpBody(response);
        const QByteArray start = "<a href=\"";
        const qsizetype from = html.indexOf(start);
        if (from < 0)
            return QStringLiteral("<no link>");
        const qsizetype to = html.indexOf('"', from + start.size());
        return QString::fromUtf8(html.mid(from + start.size(), to - from - start.size()))
            .replace(QLatin1String("&amp;"), QLatin1String("&"));
    }
};

class TestSignInFlow : public QObject
{
    Q_OBJECT

private slots:
    void unsolicitedOffersOpenNothing_data();
    void unsolicitedOffersOpenNothing();
    void oneBrowserPerSignIn();
    void pageForwardsToTheCheckedUrl();
    void doubleClickOpensOnePage();
    void newerOfferAfterThePageWasServed();
    void handoffClosedWhenTheSignInEnds_data();
    void handoffClosedWhenTheSignInEnds();
    void failures_data();
    void failures();
    void directHandoverOpensTheUrl();
};

static const QString kUrl = QStringLiteral("https://sign.example/login?code=KX-1");
static const QString kOther = QStringLiteral("https://sign.example/login?code=KX-2");

void TestSignInFlow::unsolicitedOffersOpenNothing_data()
{
    QTest::addColumn<QString>("before"); // what happened first
    QTest::addColumn<QString>("url");    // then offered
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("served"); // where the page then forwards; empty: no page

    QTest::newRow("never asked") << "" << kUrl << int(Answer::Ignored) << "";
    QTest::newRow("asked, then cancelled") << "start end" << kUrl << int(Answer::Ignored) << "";
    QTest::newRow("another page while one is open")
        << "start offer" << kOther << int(Answer::Replaced) << kOther;
    QTest::newRow("the open page again") << "start offer" << kUrl << int(Answer::Updated) << kUrl;
    QTest::newRow("the open page, differently written")
        << "start offer"
        << "HTTPS://SIGN.example/login?code=KX-1" << int(Answer::Updated) << kUrl;
    QTest::newRow("a refused page while one is open")
        << "start offer"
        << "http://evil.example/" << int(Answer::Ignored) << kUrl;
    QTest::newRow("after a refused page") << "start refused" << kUrl << int(Answer::Ignored) << "";
}

void TestSignInFlow::unsolicitedOffersOpenNothing()
{
    QFETCH(QString, before);
    QFETCH(QString, url);
    QFETCH(int, answer);
    QFETCH(QString, served);

    Fixture f;
    for (const QString &step : before.split(u' ', Qt::SkipEmptyParts)) {
        if (step == QLatin1String("start"))
            f.flow->start();
        else if (step == QLatin1String("end"))
            f.flow->end();
        else if (step == QLatin1String("offer"))
            QCOMPARE(f.flow->offer(kUrl, QStringLiteral("Sign in")), Answer::Opened);
        else if (step == QLatin1String("refused"))
            QCOMPARE(f.flow->offer(QStringLiteral("file:///etc/passwd"), QString()),
                     Answer::Failed);
    }
    const qsizetype openedBefore = f.opened.size();

    QCOMPARE(int(f.flow->offer(url, QStringLiteral("Sign in"))), answer);
    // Never a second browser.
    QCOMPARE(f.opened.size(), openedBefore);
    if (served.isEmpty()) {
        QVERIFY(!f.flow->handoff());
    } else {
        QCOMPARE(f.flow->url(), QUrl(served));
        QCOMPARE(Fixture::forwardOf(f.opened.constLast()), served);
    }
}

void TestSignInFlow::oneBrowserPerSignIn()
{
    Fixture f;
    for (int i = 0; i < 300; ++i)
        f.flow->offer(kUrl, QString());
    QVERIFY(f.opened.isEmpty());

    f.flow->start();
    QCOMPARE(f.flow->offer(kUrl, QString()), Answer::Opened);
    for (int i = 0; i < 300; ++i) {
        const QString url = i % 2 ? kUrl : kOther + QString::number(i);
        f.flow->offer(url, QString());
    }
    QCOMPARE(f.opened.size(), 1);

    // A new sign-in opens its own page, once, at a new address.
    const QUrl first = f.opened.constFirst();
    f.flow->start();
    QCOMPARE(f.flow->offer(kOther, QString()), Answer::Opened);
    QCOMPARE(f.flow->offer(kOther, QString()), Answer::Updated);
    QCOMPARE(f.opened.size(), 2);
    QVERIFY(f.opened.constLast() != first);
    QCOMPARE(Fixture::forwardOf(f.opened.constLast()), kOther);
    QCOMPARE(loopbackGet(first), QByteArray());
}

void TestSignInFlow::pageForwardsToTheCheckedUrl()
{
    Fixture f;
    f.flow->start();
    QCOMPARE(f.flow->offer(QStringLiteral("HTTPS://Sign.Example/a?code=KX-9&b='1'"),
                           QStringLiteral("Sign in")),
             Answer::Opened);

    QCOMPARE(f.opened.size(), 1);
    const QUrl handed = f.opened.constFirst();
    // What the browser is given, and so what a command line shows: the
    // hand-off's address, which says nothing of the code.
    QCOMPARE(handed, f.flow->handoff()->url());
    QVERIFY2(handed.toString().startsWith(QLatin1String("http://127.0.0.1:")),
             qPrintable(handed.toString()));
    QVERIFY(!handed.toString().contains(QLatin1String("KX-9")));
    QVERIFY(!handed.toString().contains(QLatin1String("sign.example")));

    const QUrl checked(QStringLiteral("https://sign.example/a?code=KX-9&b='1'"));
    QCOMPARE(httpBody(loopbackGet(handed)), SignInPage::html(checked, QStringLiteral("Sign in")));
    QVERIFY(f.flow->underWay());
}

// Two requests before the first offer comes (a double click): the first
// offer opens the one page, the second takes its place there.
void TestSignInFlow::doubleClickOpensOnePage()
{
    Fixture f;
    f.flow->start();
    f.flow->start();
    QCOMPARE(f.flow->offer(kUrl, QString()), Answer::Opened);
    QCOMPARE(f.flow->offer(kOther, QString()), Answer::Replaced);
    QCOMPARE(f.opened.size(), 1);
    QCOMPARE(f.flow->url(), QUrl(kOther));
    QCOMPARE(Fixture::forwardOf(f.opened.constFirst()), kOther);
}

// Once the browser has its page, a newer offer is the one the screen counts
// down to, and no second page opens for it.
void TestSignInFlow::newerOfferAfterThePageWasServed()
{
    Fixture f;
    f.flow->start();
    QCOMPARE(f.flow->offer(kUrl, QString()), Answer::Opened);
    QCOMPARE(Fixture::forwardOf(f.opened.constFirst()), kUrl);
    QVERIFY(!f.flow->handoff()->isListening());

    QCOMPARE(f.flow->offer(kOther, QString()), Answer::Replaced);
    QCOMPARE(f.flow->url(), QUrl(kOther));
    QCOMPARE(f.opened.size(), 1);
    QVERIFY(!f.flow->handoff()->isListening());
    QVERIFY(f.flow->underWay());
}

void TestSignInFlow::handoffClosedWhenTheSignInEnds_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("fetched"); // the browser had its page before
    QTest::newRow("ended") << "end" << false;
    QTest::newRow("ended after the page was fetched") << "end" << true;
    QTest::newRow("a new sign-in") << "start" << false;
    QTest::newRow("the screen goes") << "destroy" << false;
}

void TestSignInFlow::handoffClosedWhenTheSignInEnds()
{
    QFETCH(QString, ending);
    QFETCH(bool, fetched);

    Fixture f;
    f.flow->start();
    QCOMPARE(f.flow->offer(kUrl, QString()), Answer::Opened);
    const QUrl handed = f.opened.constFirst();
    if (fetched)
        QCOMPARE(Fixture::forwardOf(handed), kUrl);
    // A browser that has connected and not asked yet.
    QTcpSocket waiting;
    if (!fetched) {
        waiting.connectToHost(QHostAddress::LocalHost, quint16(handed.port()));
        QVERIFY(waiting.waitForConnected(5000));
        QTRY_COMPARE(f.flow->handoff()->connectionCount(), 1);
    }

    if (ending == QLatin1String("end"))
        f.flow->end();
    else if (ending == QLatin1String("start"))
        f.flow->start();
    else
        f.flow.reset();

    // Nobody listens there any more, and whoever was connected gets nothing.
    QCOMPARE(loopbackGet(handed), QByteArray());
    if (!fetched) {
        waiting.write("GET " + handed.path().toLatin1() + " HTTP/1.1\r\n\r\n");
        QTRY_COMPARE(waiting.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(waiting.readAll(), QByteArray());
    }
    if (f.flow) {
        QVERIFY(!f.flow->underWay());
        QVERIFY(!f.flow->handoff());
        QCOMPARE(f.flow->offer(kUrl, QString()),
                 ending == QLatin1String("start") ? Answer::Opened : Answer::Ignored);
    }
}

void TestSignInFlow::failures_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("browserWorks");
    QTest::addColumn<int>("opens"); // how often the browser was asked

    QTest::newRow("refused: file") << "file:///etc/passwd" << true << 0;
    QTest::newRow("refused: user info") << "https://a@sign.example/" << true << 0;
    QTest::newRow("refused: plain http") << "http://sign.example/" << true << 0;
    QTest::newRow("refused: empty") << "" << true << 0;
    QTest::newRow("no browser") << kUrl << false << 1;
}

void TestSignInFlow::failures()
{
    QFETCH(QString, url);
    QFETCH(bool, browserWorks);
    QFETCH(int, opens);

    Fixture f;
    f.browserWorks = browserWorks;
    f.flow->start();
    QCOMPARE(f.flow->offer(url, QString()), Answer::Failed);
    QCOMPARE(f.opened.size(), opens);
    // Nothing is left listening, and the sign-in is over.
    QVERIFY(!f.flow->handoff());
    if (opens > 0)
        QCOMPARE(loopbackGet(f.opened.constFirst()), QByteArray());
    // Never the URL itself, even when the hand-off's address could not be opened.
    for (const QUrl &handed : std::as_const(f.opened))
        QVERIFY(!handed.toString().contains(QLatin1String("sign.example")));
    QVERIFY(!f.flow->awaitingPage() && !f.flow->underWay());
    QCOMPARE(f.flow->offer(kUrl, QString()), Answer::Ignored);
    QCOMPARE(f.opened.size(), opens);
}

// Where the shell is handed the URL itself (Windows).
void TestSignInFlow::directHandoverOpensTheUrl()
{
    Fixture f(SignInFlow::Handover::Direct);
    f.flow->start();
    QCOMPARE(f.flow->offer(QStringLiteral("HTTPS://Sign.Example/a"), QString()), Answer::Opened);
    QCOMPARE(f.opened, QList<QUrl>{QUrl(QStringLiteral("https://sign.example/a"))});
    QVERIFY(!f.flow->handoff());
    QCOMPARE(f.flow->offer(QStringLiteral("https://sign.example/a"), QString()), Answer::Updated);
    QCOMPARE(f.flow->offer(QStringLiteral("https://sign.example/b"), QString()), Answer::Replaced);
    QCOMPARE(f.opened.size(), 1);
}

QTEST_GUILESS_MAIN(TestSignInFlow)
#include "tst_signinflow.moc"
