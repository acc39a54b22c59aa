#include "e2esession.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include "testmain.h"

#include <unistd.h>

// Sign-in as a new user does it, with the real kestrix, the development daemon
// and a stand-in browser that xdg-open starts as the desktop's default for
// web pages (a desktop entry in a private XDG_DATA_HOME, made the default
// with xdg-mime). The browser gets the page from the loopback hand-off, runs
// unconfined or confined as snap confines a browser, and signs in by
// approving the daemon's page. Meanwhile another user (uid 65534) looks
// through every process's command line and environment for the one-time
// code, and tries the hand-off's address it finds on the browser's command
// line.
class TestE2eSignIn : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { m_session.reset(); }
    void browserSignsIn_data();
    void browserSignsIn();

private:
    // Writes the browser's desktop entry and makes it the default for web
    // pages; false (with the reason) when xdg-mime did not take it.
    bool registerBrowser(const QString &exec, QString *error);
    bool wrapInSandbox(const QString &browser, const QString &wrapper, QString *error);
    // The other-user script's output, run as uid 65534 or as ourselves, with
    // the code on its standard input; with ask, it also asks for each
    // hand-off address it finds.
    QByteArray lookAsOtherUser(const QByteArray &code, bool asNobody, bool ask);
    QByteArray waitForReport(const QString &name);
    void goAhead(const QString &name);
    QString exchange(const QString &name = {}) const
    {
        return m_session->root() + QStringLiteral("/browser") + (name.isEmpty() ? "" : u'/' + name);
    }

    std::unique_ptr<E2eSession> m_session;
};

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kScripts = QStringLiteral(KESTRIX_E2E_SIGNIN_DIR);

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &text, bool executable = false)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return false;
    file.close();
    QFileDevice::Permissions mode =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (executable)
        mode |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    return file.setPermissions(mode);
}

} // namespace

bool TestE2eSignIn::registerBrowser(const QString &exec, QString *error)
{
    const QString data = m_session->root() + QStringLiteral("/data");
    QDir().mkpath(data + QStringLiteral("/applications"));
    const QByteArray entry = "[Desktop Entry]\nType=Application\nName=Stand-in Browser\n"
                             "Exec=" +
                             exec.toUtf8() +
                             " %u\n"
                             "MimeType=x-scheme-handler/http;x-scheme-handler/https;text/html;\n";
    if (!writeFile(data + QStringLiteral("/applications/standin-browser.desktop"), entry)) {
        *error = QStringLiteral("cannot write the desktop entry");
        return false;
    }
    // xdg-open's generic mode (no desktop of its own) goes by these defaults;
    // BROWSER is left empty, so it is the desktop entry or nothing.
    const QList<std::pair<QString, QString>> env{
        {QStringLiteral("XDG_DATA_HOME"), data},
        {QStringLiteral("XDG_CONFIG_HOME"), m_session->root() + QStringLiteral("/config")},
        {QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("X-Generic")},
        {QStringLiteral("BROWSER"), QString()}};
    QProcess mime;
    QProcessEnvironment mimeEnv = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : env) {
        m_session->setEnvironment(name, value); // XDG_CONFIG_HOME is the session's already
        mimeEnv.insert(name, value);
    }
    mime.setProcessEnvironment(mimeEnv);
    mime.start(QStringLiteral("xdg-mime"),
               {QStringLiteral("default"), QStringLiteral("standin-browser.desktop"),
                QStringLiteral("x-scheme-handler/http"), QStringLiteral("x-scheme-handler/https"),
                QStringLiteral("text/html")});
    if (!mime.waitForFinished(10000) || mime.exitCode() != 0) {
        *error = QStringLiteral("xdg-mime default failed: ") +
                 QString::fromLocal8Bit(mime.readAllStandardError());
        return false;
    }
    mime.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                            QStringLiteral("x-scheme-handler/http")});
    mime.waitForFinished(10000);
    const QByteArray chosen = mime.readAllStandardOutput().trimmed();
    if (chosen != "standin-browser.desktop") {
        *error = QStringLiteral("xdg-mime names another default: ") + QString::fromUtf8(chosen);
        return false;
    }
    // kestrix must reach the real xdg-open, not the session's recording one.
    QFile::remove(m_session->root() + QStringLiteral("/standins/xdg-open"));
    return true;
}

// Confined as snap confines a browser: a /tmp of its own, nothing of the
// user's runtime folder, hidden folders of the home masked; the network (and
// so the loopback) shared. Only its own folder (the exchange) is let through.
bool TestE2eSignIn::wrapInSandbox(const QString &browser, const QString &wrapper, QString *error)
{
    QStringList masks{QStringLiteral("--tmpfs /tmp"),
                      QStringLiteral("--tmpfs ") + m_session->root() + QStringLiteral("/runtime")};
    const QString runUser = QStringLiteral("/run/user/") + QString::number(::getuid());
    if (QFileInfo(runUser).isDir())
        masks << QStringLiteral("--tmpfs ") + runUser;
    const QString home = m_session->root() + QStringLiteral("/home");
    QDir().mkpath(home + QStringLiteral("/.config"));
    QDir().mkpath(home + QStringLiteral("/.local/share"));
    for (const QString &hidden :
         QDir(home).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        masks << QStringLiteral("--tmpfs ") + home + u'/' + hidden;
    const QString sandbox = QStringLiteral("bwrap --die-with-parent --dev-bind / / ") +
                            masks.join(u' ') + QStringLiteral(" --bind ") + exchange() + u' ' +
                            exchange();
    // The probe: a sandbox that cannot read the private folders it masks.
    QProcess probe;
    probe.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), sandbox + QStringLiteral(" -- /bin/sh -c 'test ! -e ") +
                                           m_session->root() + QStringLiteral("/runtime/probe'")});
    writeFile(m_session->root() + QStringLiteral("/runtime/probe"), "x");
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0) {
        *error = QStringLiteral("bwrap cannot make a sandbox here: ") +
                 QString::fromLocal8Bit(probe.readAllStandardError());
        return false;
    }
    return writeFile(
        wrapper, "#!/bin/sh\nexec " + sandbox.toUtf8() + " -- " + browser.toUtf8() + " \"$@\"\n",
        true);
}

QByteArray TestE2eSignIn::lookAsOtherUser(const QByteArray &code, bool asNobody, bool ask)
{
    const QByteArray script = readAll(kScripts + QStringLiteral("/other-user.py"));
    QStringList args{kPython, QStringLiteral("-I"), QStringLiteral("-c"),
                     QString::fromUtf8(script)};
    if (!ask)
        args << QStringLiteral("--look-only");
    if (asNobody)
        args = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups")} +
               args;
    QProcess look;
    look.start(asNobody ? QStringLiteral("setpriv") : args.takeFirst(), args);
    look.write(code + '\n');
    look.closeWriteChannel();
    // The hand-off answers from kestrix, another process: plain waiting is fine.
    look.waitForFinished(20000);
    return look.readAllStandardOutput() + look.readAllStandardError();
}

QByteArray TestE2eSignIn::waitForReport(const QString &name)
{
    QByteArray text;
    (void)QTest::qWaitFor(
        [&] {
            text = readAll(exchange(name)).trimmed();
            return !text.isEmpty() || QFile::exists(exchange(QStringLiteral("failed")));
        },
        20000);
    if (text.isEmpty())
        qInfo("the browser did not report %s: %s", qPrintable(name),
              readAll(exchange(QStringLiteral("failed"))).constData());
    return text;
}

void TestE2eSignIn::goAhead(const QString &name)
{
    writeFile(exchange(name), "go\n");
}

void TestE2eSignIn::browserSignsIn_data()
{
    QTest::addColumn<bool>("confined");
    QTest::newRow("unconfined") << false;
    QTest::newRow("confined like a snap") << true;
}

void TestE2eSignIn::browserSignsIn()
{
    QFETCH(bool, confined);

    for (const char *tool : {"xdg-open", "xdg-mime"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (Debian package xdg-utils)")
                                 .arg(QString::fromLatin1(tool))));
    }
    if (confined && QStandardPaths::findExecutable(QStringLiteral("bwrap")).isEmpty())
        QSKIP("bwrap is not installed (Debian package bubblewrap)");
    if (!QFileInfo(kPython).isExecutable())
        QSKIP("the stand-in browser needs /usr/bin/python3");
    E2E_START_DESKTOP(m_session);
    E2E_REQUIRE_CONTROLS(m_session);
    E2eSession &s = *m_session;

    QVERIFY(QDir().mkpath(exchange()));
    const QString browser = exchange(QStringLiteral("standin-browser.py"));
    QVERIFY(QFile::copy(kScripts + QStringLiteral("/standin-browser.py"), browser));
    QVERIFY(writeFile(
        exchange(QStringLiteral("browser")),
        "#!/bin/sh\nexec " + kPython.toUtf8() + " -I " + browser.toUtf8() + " \"$@\"\n", true));
    QString exec = exchange(QStringLiteral("browser"));
    QString error;
    if (confined) {
        const QString wrapper = exchange(QStringLiteral("confined-browser"));
        if (!wrapInSandbox(exec, wrapper, &error))
            QSKIP(qPrintable(error));
        exec = wrapper;
    }
    QVERIFY2(registerBrowser(exec, &error), qPrintable(error));

    QVERIFY(s.startDaemon()); // no --auto-login: only the browser's approval signs in
    s.startApp();
    QTRY_VERIFY_WITH_TIMEOUT(s.showsLoginScreen(), 20000);
    QVERIFY2(s.clickControl(QStringLiteral("push button"), QStringLiteral("Sign in")), s.failure());

    // What the browser was handed, and so what its command line shows.
    const QByteArray handed = waitForReport(QStringLiteral("started"));
    QVERIFY2(QRegularExpression(QStringLiteral("^http://127\\.0\\.0\\.1:\\d+/[A-Za-z0-9_-]{22}$"))
                 .match(QString::fromUtf8(handed))
                 .hasMatch(),
             handed.constData());

    const bool root = ::geteuid() == 0;
    if (root) {
        // Another user finds the address on the browser's command line and
        // asks for it first: a 404, and the token stays the browser's.
        const QByteArray looked = lookAsOtherUser({}, true, true);
        QVERIFY2(looked.contains("asked " + handed + " 404\n"), looked.constData());
        QVERIFY2(looked.endsWith("done\n"), looked.constData());
    }

    goAhead(QStringLiteral("go-fetch"));
    const QByteArray landed = waitForReport(QStringLiteral("landed"));
    const QRegularExpressionMatch daemonPage =
        QRegularExpression(QStringLiteral("^http://127\\.0\\.0\\.1:\\d+/login/([0-9a-f]+)$"))
            .match(QString::fromUtf8(landed));
    QVERIFY2(daemonPage.hasMatch(), landed.constData());
    const QByteArray code = daemonPage.captured(1).toUtf8();

    if (root) {
        // While the sign-in is open, nobody's command line or environment
        // holds any of the code: looked at as another user, and as root,
        // who may read every environment.
        for (const bool asNobody : {true, false}) {
            const QByteArray looked = lookAsOtherUser(code, asNobody, false);
            QVERIFY2(looked == "done\n", looked.constData());
        }
    }

    goAhead(QStringLiteral("go-approve"));
    QCOMPARE(waitForReport(QStringLiteral("approved")), QByteArray("200"));
    QTRY_VERIFY_WITH_TIMEOUT(s.showsSignedIn(), 20000);
    QVERIFY(!s.showsLoginScreen());
    if (!root)
        QSKIP("signed in; what another user sees needs root to run as uid 65534 (CI runs as root)");
}

KESTRIX_TEST_MAIN(TestE2eSignIn)
#include "tst_e2e_signin.moc"
