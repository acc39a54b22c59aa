#include "app/signinflow.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using Answer = SignInFlow::Answer;

// A sign-in as the login screen drives it, with a browser that records what
// it is handed, and a private folder for the forwarding pages.
struct Fixture
{
    QTemporaryDir dir;
    QList<QUrl> opened;
    bool browserWorks = true;
    std::unique_ptr<SignInFlow> flow;

    explicit Fixture(bool withPageDir = true)
    {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        flow = std::make_unique<SignInFlow>(withPageDir ? dir.path() : QString(),
                                            [this](const QUrl &url) {
                                                opened.append(url);
                                                return browserWorks;
                                            });
    }
    QStringList pages() const { return QDir(dir.path()).entryList(QDir::Files | QDir::System); }
    // The URL the page last opened forwards to, read back from its link.
    static QString forwardOf(const QUrl &page)
    {
        QFile file(page.toLocalFile());
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("<unreadable>");
        const QByteArray html = file.readAll();
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
    void pageRemovedWhenTheSignInEnds_data();
    void pageRemovedWhenTheSignInEnds();
    void eachSignInHasItsOwnPage();
    void failures_data();
    void failures();
    void withoutPrivateFolderTheUrlOpens();
};

static const QString kUrl = QStringLiteral("https://sign.example/login?code=KX-1");
static const QString kOther = QStringLiteral("https://sign.example/login?code=KX-2");

void TestSignInFlow::unsolicitedOffersOpenNothing_data()
{
    QTest::addColumn<QString>("before"); // what happened first
    QTest::addColumn<QString>("url");    // then offered
    QTest::addColumn<int>("answer");

    QTest::newRow("never asked") << "" << kUrl << int(Answer::Ignored);
    QTest::newRow("asked, then cancelled") << "start end" << kUrl << int(Answer::Ignored);
    QTest::newRow("another page while one is open")
        << "start offer" << kOther << int(Answer::Ignored);
    QTest::newRow("the open page again") << "start offer" << kUrl << int(Answer::Updated);
    QTest::newRow("the open page, differently written")
        << "start offer"
        << "HTTPS://SIGN.example/login?code=KX-1" << int(Answer::Updated);
    QTest::newRow("a refused page while one is open")
        << "start offer"
        << "http://evil.example/" << int(Answer::Ignored);
    QTest::newRow("after a refused page") << "start refused" << kUrl << int(Answer::Ignored);
}

void TestSignInFlow::unsolicitedOffersOpenNothing()
{
    QFETCH(QString, before);
    QFETCH(QString, url);
    QFETCH(int, answer);

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
    const QString pageBefore = f.flow->pagePath();

    QCOMPARE(int(f.flow->offer(url, QStringLiteral("Sign in"))), answer);
    QCOMPARE(f.opened.size(), openedBefore);
    // The page of the sign-in under way stays as it was.
    QCOMPARE(f.flow->pagePath(), pageBefore);
    if (!pageBefore.isEmpty())
        QCOMPARE(Fixture::forwardOf(QUrl::fromLocalFile(pageBefore)), kUrl);
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
    QCOMPARE(f.pages().size(), 1);

    // A new sign-in opens its own page, once.
    f.flow->start();
    QCOMPARE(f.flow->offer(kOther, QString()), Answer::Opened);
    QCOMPARE(f.flow->offer(kOther, QString()), Answer::Updated);
    QCOMPARE(f.opened.size(), 2);
    QCOMPARE(Fixture::forwardOf(f.opened.constLast()), kOther);
    QCOMPARE(f.pages().size(), 1);
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
    // What the browser is given, and so what a command line shows: a file of
    // the private folder, which says nothing of the code.
    QVERIFY2(handed.isLocalFile(), qPrintable(handed.toString()));
    QCOMPARE(QFileInfo(handed.toLocalFile()).absolutePath(), QDir(f.dir.path()).absolutePath());
    QVERIFY(!handed.toString().contains(QLatin1String("KX-9")));
    QCOMPARE(handed.toLocalFile(), f.flow->pagePath());

    const QFileInfo page(handed.toLocalFile());
    QVERIFY(page.isFile() && !page.isSymLink());
    QCOMPARE(page.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
             QFile::ReadOwner | QFile::WriteOwner);
    QFile file(page.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QUrl checked(QStringLiteral("https://sign.example/a?code=KX-9&b='1'"));
    QCOMPARE(file.readAll(), SignInPage::html(checked, QStringLiteral("Sign in")));
}

void TestSignInFlow::pageRemovedWhenTheSignInEnds_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("ended") << "end";
    QTest::newRow("a new sign-in") << "start";
    QTest::newRow("the screen goes") << "destroy";
}

void TestSignInFlow::pageRemovedWhenTheSignInEnds()
{
    QFETCH(QString, ending);

    Fixture f;
    f.flow->start();
    QCOMPARE(f.flow->offer(kUrl, QString()), Answer::Opened);
    const QString page = f.flow->pagePath();
    QVERIFY(QFile::exists(page));

    if (ending == QLatin1String("end"))
        f.flow->end();
    else if (ending == QLatin1String("start"))
        f.flow->start();
    else
        f.flow.reset();
    QVERIFY(!QFile::exists(page));
    QVERIFY(f.pages().isEmpty());
    if (f.flow) {
        QVERIFY(!f.flow->underWay());
        QCOMPARE(f.flow->offer(kUrl, QString()),
                 ending == QLatin1String("start") ? Answer::Opened : Answer::Ignored);
    }
}

void TestSignInFlow::eachSignInHasItsOwnPage()
{
    // Two at once (as two copies of the interface might): neither takes the
    // other's file.
    Fixture f;
    SignInFlow second(f.dir.path(), [](const QUrl &) { return true; });
    f.flow->start();
    second.start();
    QCOMPARE(f.flow->offer(kUrl, QString()), Answer::Opened);
    QCOMPARE(second.offer(kOther, QString()), Answer::Opened);
    QVERIFY(f.flow->pagePath() != second.pagePath());
    QCOMPARE(Fixture::forwardOf(QUrl::fromLocalFile(f.flow->pagePath())), kUrl);
    QCOMPARE(Fixture::forwardOf(QUrl::fromLocalFile(second.pagePath())), kOther);
    QVERIFY(QFileInfo(f.flow->pagePath()).fileName().size() > 32);
}

void TestSignInFlow::failures_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("browserWorks");
    QTest::addColumn<bool>("folderGone");
    QTest::addColumn<int>("opens"); // how often the browser was asked

    QTest::newRow("refused: file") << "file:///etc/passwd" << true << false << 0;
    QTest::newRow("refused: user info") << "https://a@sign.example/" << true << false << 0;
    QTest::newRow("refused: plain http") << "http://sign.example/" << true << false << 0;
    QTest::newRow("refused: empty") << "" << true << false << 0;
    QTest::newRow("no browser") << kUrl << false << false << 1;
    QTest::newRow("folder gone") << kUrl << true << true << 0;
}

void TestSignInFlow::failures()
{
    QFETCH(QString, url);
    QFETCH(bool, browserWorks);
    QFETCH(bool, folderGone);
    QFETCH(int, opens);

    Fixture f;
    f.browserWorks = browserWorks;
    if (folderGone)
        QVERIFY(f.dir.remove());
    f.flow->start();
    QCOMPARE(f.flow->offer(url, QString()), Answer::Failed);
    QCOMPARE(f.opened.size(), opens);
    // Nothing is left behind, and the sign-in is over.
    QVERIFY(f.pages().isEmpty());
    QVERIFY(f.flow->pagePath().isEmpty());
    QVERIFY(!f.flow->awaitingPage() && !f.flow->underWay());
    QCOMPARE(f.flow->offer(kUrl, QString()), Answer::Ignored);
    QCOMPARE(f.opened.size(), opens);
}

void TestSignInFlow::withoutPrivateFolderTheUrlOpens()
{
    Fixture f(false);
    f.flow->start();
    QCOMPARE(f.flow->offer(QStringLiteral("HTTPS://Sign.Example/a"), QString()), Answer::Opened);
    QCOMPARE(f.opened, QList<QUrl>{QUrl(QStringLiteral("https://sign.example/a"))});
    QVERIFY(f.pages().isEmpty());
    QCOMPARE(f.flow->offer(QStringLiteral("https://sign.example/a"), QString()), Answer::Updated);
    QCOMPARE(f.opened.size(), 1);
}

QTEST_GUILESS_MAIN(TestSignInFlow)
#include "tst_signinflow.moc"
