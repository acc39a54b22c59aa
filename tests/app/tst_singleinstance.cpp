#include "app/singleinstance.h"
#include "ipc/privateruntimedir_unix.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "foreignserver.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// One interface per user: the name lives where no other user can reach, and a
// server of another user in the way is never told to show anything.
class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void runtimeFolder_data();
    void runtimeFolder();
    void plantedFallbackIsRefused_data();
    void plantedFallbackIsRefused();
    void nameWithoutRuntimeDirIsPrivate();
    void secondStartReachesOwnServer();
    void staleNameIsTakenOver();
    void foreignServerIsToldNothing();

private:
    QString fallbackPath() const
    {
        return m_temp + QStringLiteral("/kestrix-runtime-") + QString::number(geteuid());
    }

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_runtime;
    QString m_temp;
    QByteArray m_oldRuntime;
    QByteArray m_oldTemp;
};

namespace {

constexpr int kWaitMs = 5000;

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

mode_t modeOf(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

} // namespace

void TestSingleInstance::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    QVERIFY(setMode(m_root->path(), 0755));
    m_runtime = m_root->path() + "/runtime";
    m_temp = m_root->path() + "/tmp";
    QVERIFY(QDir().mkdir(m_runtime) && setMode(m_runtime, 0700));
    QVERIFY(QDir().mkdir(m_temp) && setMode(m_temp, 01777)); // shared, as /tmp is
    m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    m_oldTemp = qgetenv("TMPDIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime));
    qputenv("TMPDIR", QFile::encodeName(m_temp));
}

void TestSingleInstance::cleanup()
{
    qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
    qputenv("TMPDIR", m_oldTemp);
    m_root.reset();
}

void TestSingleInstance::runtimeFolder_data()
{
    QTest::addColumn<QString>("runtime"); // what XDG_RUNTIME_DIR names, "<unset>" for nothing
    QTest::addColumn<bool>("used");       // false: the fallback instead

    QTest::newRow("private runtime folder") << "runtime" << true;
    QTest::newRow("unset") << "<unset>" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("readable by others") << "open" << false;
    QTest::newRow("a link to a private folder") << "link" << false;
    QTest::newRow("relative") << "relative" << false;
    QTest::newRow("missing") << "missing" << false;
}

void TestSingleInstance::runtimeFolder()
{
    QFETCH(QString, runtime);
    QFETCH(bool, used);

    const QString open = m_root->path() + "/open";
    QVERIFY(QDir().mkdir(open) && setMode(open, 0755));
    QVERIFY(QFile::link(m_runtime, m_root->path() + "/link"));
    if (runtime == "<unset>")
        qunsetenv("XDG_RUNTIME_DIR");
    else if (runtime == "relative")
        qputenv("XDG_RUNTIME_DIR", "runtime");
    else if (!runtime.isEmpty())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root->path() + '/' + runtime));
    else
        qputenv("XDG_RUNTIME_DIR", "");

    const QString dir = privateRuntimeDir();
    QCOMPARE(dir, used ? m_runtime : fallbackPath());
    QCOMPARE(modeOf(dir), mode_t(0700));
    QCOMPARE(QFileInfo(dir).ownerId(), uint(geteuid()));
    QVERIFY(!QFileInfo(dir).isSymLink());
    QCOMPARE(singleInstanceName(), dir + "/kestrix-ui-single");
    // The open folder was left as it was.
    QCOMPARE(modeOf(open), mode_t(0755));
}

// Another user got to the fallback's name first in the shared folder.
void TestSingleInstance::plantedFallbackIsRefused_data()
{
    QTest::addColumn<QString>("planted");
    QTest::newRow("link to a folder") << "link";
    QTest::newRow("folder open to others") << "open folder";
    QTest::newRow("folder of another user") << "foreign folder";
    QTest::newRow("plain file") << "file";
}

void TestSingleInstance::plantedFallbackIsRefused()
{
    QFETCH(QString, planted);
    qunsetenv("XDG_RUNTIME_DIR");
    const QString target = m_root->path() + "/target";
    QVERIFY(QDir().mkdir(target) && setMode(target, 0777));

    if (planted == "link") {
        QVERIFY(QFile::link(target, fallbackPath()));
    } else if (planted == "open folder") {
        QVERIFY(QDir().mkdir(fallbackPath()) && setMode(fallbackPath(), 0777));
    } else if (planted == "foreign folder") {
        if (geteuid() != 0)
            QSKIP("needs root to make a folder of another user");
        QVERIFY(QDir().mkdir(fallbackPath()) && setMode(fallbackPath(), 0700));
        QVERIFY(::chown(QFile::encodeName(fallbackPath()).constData(), ForeignServer::kNobody,
                        ForeignServer::kNobody) == 0);
    } else {
        QFile file(fallbackPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QCOMPARE(privateRuntimeDir(), QString());
    // No guard rather than a shared name.
    QCOMPARE(singleInstanceName(), QString());
    QLocalServer server;
    QVERIFY(!listenAsSingleInstance(server, singleInstanceName()));
    QVERIFY(!tellRunningInstanceToShow(singleInstanceName(), 200));
    // Nothing went through the link.
    QCOMPARE(modeOf(target), mode_t(0777));
    QVERIFY(QDir(target).isEmpty());
}

void TestSingleInstance::nameWithoutRuntimeDirIsPrivate()
{
    qunsetenv("XDG_RUNTIME_DIR");
    const QString name = singleInstanceName();
    QCOMPARE(name, fallbackPath() + "/kestrix-ui-single");

    QLocalServer server;
    QVERIFY(listenAsSingleInstance(server, name));
    QCOMPARE(QFileInfo(name).ownerId(), uint(geteuid()));
    QCOMPARE(modeOf(fallbackPath()), mode_t(0700));
    // The shared folder holds nothing but our private one.
    QCOMPARE(QDir(m_temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             QStringList{QFileInfo(fallbackPath()).fileName()});
}

void TestSingleInstance::secondStartReachesOwnServer()
{
    const QString name = singleInstanceName();
    QLocalServer server;
    QVERIFY(listenAsSingleInstance(server, name));
    QByteArray received;
    connect(&server, &QLocalServer::newConnection, this, [&] {
        QLocalSocket *peer = server.nextPendingConnection();
        connect(peer, &QLocalSocket::readyRead, this, [&, peer] { received += peer->readAll(); });
    });

    QVERIFY(tellRunningInstanceToShow(name, kWaitMs));
    QTRY_COMPARE(received, QByteArray("show"));
}

// A crashed run leaves its socket file behind: nobody answers, the name is ours.
void TestSingleInstance::staleNameIsTakenOver()
{
    const QString name = singleInstanceName();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ::strncpy(address.sun_path, QFile::encodeName(name).constData(), sizeof address.sun_path - 1);
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(fd); // bound, never listening: a stale file

    QVERIFY(!tellRunningInstanceToShow(name, 200));
    QLocalServer server;
    QVERIFY(listenAsSingleInstance(server, name));
    QVERIFY(tellRunningInstanceToShow(name, kWaitMs));
}

// A server of another user under our name (our private folder is no bar to
// root, or the check of the folder was beaten): it hears nothing from us, and
// we become the running instance.
void TestSingleInstance::foreignServerIsToldNothing()
{
    if (geteuid() != 0)
        QSKIP("needs root to serve as another user (CI runs the tests as root)");
    const QString name = singleInstanceName();
    ForeignServer foreign;
    const ForeignServer::Start started = foreign.start(name);
    if (started == ForeignServer::Start::CannotChangeUser)
        QSKIP("this root may not switch to uid 65534 (no CAP_SETUID)");
    QCOMPARE(started, ForeignServer::Start::Serving);

    QVERIFY(!tellRunningInstanceToShow(name, kWaitMs));

    QLocalServer server;
    QVERIFY(listenAsSingleInstance(server, name));
    QVERIFY(tellRunningInstanceToShow(name, kWaitMs));
    QTRY_VERIFY(server.hasPendingConnections());
    QCOMPARE(foreign.stop(), qint64(0));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
