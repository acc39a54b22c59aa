#include "app/privateruntimedir.h"
#include "app/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
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
constexpr uid_t kNobody = 65534;

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

mode_t modeOf(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A single-instance server of another user: a child that binds the name as
// root, becomes "nobody" and only then listens, so the kernel records nobody
// as the server. It counts the bytes its clients send and reports them when
// its control pipe closes.
class ForeignServer
{
public:
    ~ForeignServer() { stop(); }

    enum class Start
    {
        Serving,
        CannotChangeUser, // root without the right to (a container)
        Failed,
    };

    Start start(const QString &path)
    {
        int report[2];
        int control[2];
        if (::pipe(report) != 0 || ::pipe(control) != 0)
            return Start::Failed;
        const QByteArray name = QFile::encodeName(path);
        m_pid = ::fork();
        if (m_pid < 0)
            return Start::Failed;
        if (m_pid == 0) {
            ::close(report[0]);
            ::close(control[1]);
            serve(name.constData(), report[1], control[0]); // never returns
        }
        ::close(report[1]);
        ::close(control[0]);
        m_report = report[0];
        m_control = control[1];
        char ready = 0;
        if (::read(m_report, &ready, 1) != 1)
            return Start::Failed;
        return ready == 'L'   ? Start::Serving
               : ready == 'E' ? Start::CannotChangeUser
                              : Start::Failed;
    }

    // Ends the server; the number of bytes its clients sent, -1 on failure.
    long stop()
    {
        if (m_pid <= 0)
            return -1;
        ::close(m_control);
        long received = -1;
        if (::read(m_report, &received, sizeof received) != sizeof received)
            received = -1;
        ::close(m_report);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        return received;
    }

private:
    [[noreturn]] static void serve(const char *path, int report, int control)
    {
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        ::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
        if (listener < 0 ||
            ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            ::_exit(1);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            (void)!::write(report, "E", 1);
            ::_exit(1);
        }
        if (::listen(listener, 4) != 0)
            ::_exit(1);
        (void)!::write(report, "L", 1);
        long received = 0;
        for (;;) {
            pollfd fds[2] = {{listener, POLLIN, 0}, {control, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 || fds[1].revents)
                break;
            const int client = ::accept(listener, nullptr, nullptr);
            if (client < 0)
                continue;
            pollfd in = {client, POLLIN, 0};
            char buffer[64];
            ssize_t n = 0;
            while (::poll(&in, 1, 1000) > 0 && (n = ::read(client, buffer, sizeof buffer)) > 0)
                received += n;
            ::close(client);
        }
        (void)!::write(report, &received, sizeof received);
        ::_exit(0);
    }

    pid_t m_pid = -1;
    int m_report = -1;
    int m_control = -1;
};

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
        QVERIFY(::chown(QFile::encodeName(fallbackPath()).constData(), kNobody, kNobody) == 0);
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
    QCOMPARE(foreign.stop(), 0L);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
