#include "ipc/pipeendpoint.h"

#ifndef Q_OS_WIN
#include "ipc/endpointcheck_unix.h"
#endif

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <QtTest>

#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

// A listening-free socket entry at path, as a daemon's bind leaves it.
bool bindSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (fd < 0 || name.size() >= int(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), name.size());
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

bool setOwner(const QString &path, uid_t owner)
{
    return ::lchown(QFile::encodeName(path).constData(), owner, owner) == 0;
}

// Whether something opened the watched file (not merely looked at it) since
// the watch began.
class OpenWatch
{
public:
    explicit OpenWatch(const QString &path) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        // Opening /dev/ptmx shows as the terminal it makes.
        const bool terminals = path == QLatin1String("/dev/ptmx");
        const QByteArray watched = terminals ? "/dev/pts" : QFile::encodeName(path);
        if (m_fd >= 0 &&
            ::inotify_add_watch(m_fd, watched.constData(), terminals ? IN_CREATE : IN_OPEN) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~OpenWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isValid() const { return m_fd >= 0; }
    bool opened() const
    {
        alignas(inotify_event) char events[4096];
        return ::read(m_fd, events, sizeof events) > 0;
    }

private:
    int m_fd;
};

} // namespace

// Where the client looks for the daemon and its token, with hostile values.
class TestPipeEndpoint : public QObject
{
    Q_OBJECT

private slots:
    void serverName_data();
    void serverName();
    void token_data();
    void token();
    void endpoint_data();
    void endpoint();
    void defaultEndpointFolders();
    void longPathConnectsShort();
};

void TestPipeEndpoint::serverName_data()
{
    QTest::addColumn<QByteArray>("value"); // null: unset
    QTest::addColumn<QString>("expected");

    const QString system = QStringLiteral("/run/kestrix/kestrix.sock");
    QTest::newRow("unset") << QByteArray() << system;
    QTest::newRow("empty") << QByteArray("") << system;
    QTest::newRow("bare name") << QByteArray("kestrix") << system;
    QTest::newRow("relative path") << QByteArray("run/kestrix.sock") << system;
    QTest::newRow("dot relative") << QByteArray("./kestrix.sock") << system;
    QTest::newRow("resource-like") << QByteArray(":/kestrix.sock") << system;
    QTest::newRow("absolute") << QByteArray("/tmp/k/kestrix.sock") << "/tmp/k/kestrix.sock";
}

void TestPipeEndpoint::serverName()
{
    QFETCH(QByteArray, value);
    QFETCH(QString, expected);
    if (value.isNull())
        qunsetenv("KESTRIX_PIPE");
    else
        qputenv("KESTRIX_PIPE", value);
    QCOMPARE(PipeEndpoint::serverName(), expected);
    qunsetenv("KESTRIX_PIPE");
}

void TestPipeEndpoint::token_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expected");
    // The file the token path ends at, watched for being opened; empty: not watched.
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("opened");

    QTest::newRow("regular") << "regular"
                             << "s3cr3t"
                             << "token" << true;
    QTest::newRow("CR LF and spaces") << "crlf"
                                      << "s3cr3t"
                                      << "" << true;
    QTest::newRow("link to a regular file") << "link"
                                            << "s3cr3t"
                                            << "real" << true;
    QTest::newRow("exactly 4 KiB") << "4096" << QString(4096, 'k') << "" << true;
    QTest::newRow("5 KiB file") << "5120"
                                << ""
                                << "token" << false;
    // Opening a FIFO without a writer would wait, with one it would eat its data.
    QTest::newRow("FIFO") << "fifo"
                          << ""
                          << "token" << false;
    QTest::newRow("link to /dev/zero") << "/dev/zero"
                                       << ""
                                       << "/dev/zero" << false;
    QTest::newRow("link to /dev/null") << "/dev/null"
                                       << ""
                                       << "/dev/null" << false;
    // Opening it makes a new terminal.
    QTest::newRow("link to /dev/ptmx") << "/dev/ptmx"
                                       << ""
                                       << "/dev/ptmx" << false;
    // Kernel files report a size of 0 or 4096 whatever they hold.
    QTest::newRow("link to /proc/self/environ") << "/proc/self/environ"
                                                << ""
                                                << "" << false;
    QTest::newRow("link to a /sys file") << "/sys/kernel/uevent_seqnum"
                                         << ""
                                         << "" << false;
    QTest::newRow("directory") << "directory"
                               << ""
                               << "" << false;
    QTest::newRow("missing") << "missing"
                             << ""
                             << "" << false;
}

void TestPipeEndpoint::token()
{
    QFETCH(QString, kind);
    QFETCH(QString, expected);
    QFETCH(QString, target);
    QFETCH(bool, opened);

    QTemporaryDir programData;
    QVERIFY(QDir(programData.path()).mkpath("Kestrix"));
    const QString path = programData.path() + "/Kestrix/pipe.token";
    auto write = [](const QString &file, const QByteArray &bytes) {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    if (kind == "regular")
        QVERIFY(write(path, "s3cr3t"));
    else if (kind == "crlf")
        QVERIFY(write(path, " s3cr3t\r\n"));
    else if (kind == "link")
        QVERIFY(write(programData.path() + "/real", "s3cr3t") &&
                QFile::link(programData.path() + "/real", path));
    else if (kind == "4096" || kind == "5120")
        QVERIFY(write(path, QByteArray(kind.toInt(), 'k')));
    else if (kind == "fifo")
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind.startsWith('/')) {
        if (!QFileInfo::exists(kind))
            QSKIP("not on this system");
        QVERIFY(QFile::link(kind, path));
    } else if (kind == "directory")
        QVERIFY(QDir().mkdir(path));

    std::unique_ptr<OpenWatch> watch;
    if (!target.isEmpty()) {
        const QString watched = target.startsWith('/') ? target
                                : target == "token"    ? path
                                                       : programData.path() + '/' + target;
        watch = std::make_unique<OpenWatch>(watched);
        QVERIFY2(watch->isValid(), qPrintable(watched));
    }

    qputenv("PROGRAMDATA", programData.path().toUtf8());
    // A FIFO without a writer or /dev/zero would hang or grow without end here.
    QCOMPARE(PipeEndpoint::readToken(), expected);
    qunsetenv("PROGRAMDATA");
    if (watch)
        QCOMPARE(watch->opened(), opened);
}

void TestPipeEndpoint::endpoint_data()
{
    // The socket is "base/d/kestrix.sock" unless the row says otherwise.
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("expected"); // accept, refuse, or other:<uid>

    QTest::newRow("good private folder") << "private"
                                         << "accept";
    QTest::newRow("socket entry is a link") << "link-entry"
                                            << "refuse";
    QTest::newRow("link in a sticky folder, the attack") << "sticky-link"
                                                         << "refuse";
    QTest::newRow("folder on the way is a link") << "link-folder"
                                                 << "refuse";
    QTest::newRow("folder writable by others") << "mode-0777"
                                               << "refuse";
    QTest::newRow("folder writable by its group") << "mode-0770"
                                                  << "refuse";
    QTest::newRow("sticky /tmp-like folder") << "mode-1777"
                                             << "refuse";
    QTest::newRow("sticky folder further up") << "sticky-above"
                                              << "accept";
    QTest::newRow("open folder further up") << "open-above"
                                            << "refuse";
    QTest::newRow("not a socket") << "file"
                                  << "refuse";
    // Connecting tells "nobody there" the usual way.
    QTest::newRow("missing socket") << "missing"
                                    << "accept";
    QTest::newRow("missing folder") << "missing-folder"
                                    << "refuse";
    QTest::newRow("dot-dot") << "dotdot"
                             << "refuse";
    QTest::newRow("trailing slash") << "slash"
                                    << "refuse";
    QTest::newRow("relative") << "relative"
                              << "refuse";
    // Rows that need files of other users.
    QTest::newRow("root's folder, as a user, like /run/kestrix") << "root-folder"
                                                                 << "accept";
    QTest::newRow("foreign-owned folder") << "foreign-folder"
                                          << "other:65534";
    QTest::newRow("foreign-owned socket") << "foreign-socket"
                                          << "other:65534";
    QTest::newRow("folder and socket of two other users") << "two-foreigners"
                                                          << "refuse";
    QTest::newRow("foreign-owned folder further up") << "foreign-above"
                                                     << "other:65534";
}

void TestPipeEndpoint::endpoint()
{
    QFETCH(QString, layout);
    QFETCH(QString, expected);

    const bool needsRoot =
        layout.startsWith("root-") || layout.startsWith("foreign-") || layout == "two-foreigners";
    if (needsRoot && geteuid() != 0)
        QSKIP("needs root to make files of other users (CI runs the tests as root)");

    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString folder = base.path() + "/d";
    QString path = folder + "/kestrix.sock";
    QVERIFY(QDir().mkdir(folder) && setMode(folder, 0700));
    // As root, files are root's: checked on behalf of an ordinary user then.
    uid_t checkedAs = geteuid();

    if (layout == "private") {
        QVERIFY(bindSocket(path));
    } else if (layout == "link-entry") {
        QVERIFY(bindSocket(base.path() + "/real.sock"));
        QVERIFY(QFile::link(base.path() + "/real.sock", path));
    } else if (layout == "sticky-link") {
        QVERIFY(bindSocket(base.path() + "/real.sock"));
        QVERIFY(setMode(folder, 01777));
        QVERIFY(QFile::link(base.path() + "/real.sock", path));
    } else if (layout == "link-folder") {
        QVERIFY(bindSocket(path));
        QVERIFY(QFile::link(folder, base.path() + "/l"));
        path = base.path() + "/l/kestrix.sock";
    } else if (layout.startsWith("mode-")) {
        QVERIFY(bindSocket(path));
        QVERIFY(setMode(folder, mode_t(layout.mid(5).toUInt(nullptr, 8))));
    } else if (layout == "sticky-above" || layout == "open-above") {
        QVERIFY(bindSocket(path));
        QVERIFY(setMode(base.path(), layout == "sticky-above" ? 01777 : 0777));
    } else if (layout == "file") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (layout == "missing-folder") {
        path = base.path() + "/nowhere/kestrix.sock";
    } else if (layout == "dotdot") {
        QVERIFY(bindSocket(path));
        path = folder + "/../d/kestrix.sock";
    } else if (layout == "slash") {
        path = folder + '/';
    } else if (layout == "relative") {
        QVERIFY(bindSocket(path));
        QVERIFY(QDir::setCurrent(folder));
        path = "kestrix.sock";
    } else if (layout == "root-folder") {
        QVERIFY(bindSocket(path));
        QVERIFY(setMode(folder, 0755) && setMode(base.path(), 0755));
        checkedAs = 1000;
    } else if (layout == "foreign-folder") {
        QVERIFY(bindSocket(path));
        QVERIFY(setOwner(folder, kNobody));
    } else if (layout == "foreign-socket") {
        QVERIFY(bindSocket(path));
        QVERIFY(setOwner(path, kNobody));
    } else if (layout == "two-foreigners") {
        QVERIFY(bindSocket(path));
        QVERIFY(setOwner(folder, kNobody) && setOwner(path, kNobody - 1));
    } else if (layout == "foreign-above") {
        QVERIFY(bindSocket(path));
        QVERIFY(setOwner(base.path(), kNobody));
    }

    const CheckedEndpoint checked = checkEndpoint(QFile::encodeName(path).toStdString(), checkedAs);
    QDir::setCurrent(QDir::rootPath());
    if (expected == "refuse") {
        QVERIFY(!checked.accepted());
        QVERIFY(!checked.refusal().empty());
        QVERIFY(checked.connectPath().empty());
        return;
    }
    QVERIFY2(checked.accepted(), checked.refusal().c_str());
    QCOMPARE(checked.otherOwner(), expected == "accept" ? -1L : expected.mid(6).toLong());
    if (layout == "missing") {
        QVERIFY(!QFileInfo::exists(QString::fromStdString(checked.connectPath())));
        return;
    }
    // The name is reached through the checked folder, not by the path again.
    struct stat viaFolder, viaPath;
    QCOMPARE(::stat(checked.connectPath().c_str(), &viaFolder), 0);
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &viaPath), 0);
    QCOMPARE(viaFolder.st_ino, viaPath.st_ino);
    QVERIFY(S_ISSOCK(viaFolder.st_mode));
}

void TestPipeEndpoint::defaultEndpointFolders()
{
    // Nothing on the way to the system socket is held against it: when its
    // folder is missing, that is all that is said.
    qunsetenv("KESTRIX_PIPE");
    const QString path = PipeEndpoint::serverName();
    const CheckedEndpoint checked = checkEndpoint(QFile::encodeName(path).toStdString(), 1000);
    if (QFileInfo(path).dir().exists())
        QVERIFY2(checked.accepted(), checked.refusal().c_str());
    else
        QCOMPARE(QString::fromStdString(checked.refusal()), QStringLiteral("no daemon socket"));
}

void TestPipeEndpoint::longPathConnectsShort()
{
    // A socket address holds 108 bytes; the folder's descriptor stands in
    // for any length of path.
    QTemporaryDir base;
    QString folder = base.path();
    while (folder.size() < 200)
        folder += QStringLiteral("/a-rather-long-folder-name");
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + "/kestrix.sock";
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY);
    QVERIFY(dirFd >= 0);
    QVERIFY(bindSocket(QStringLiteral("/proc/self/fd/%1/kestrix.sock").arg(dirFd)));
    ::close(dirFd);
    const CheckedEndpoint checked = checkEndpoint(QFile::encodeName(path).toStdString(), geteuid());
    QVERIFY2(checked.accepted(), checked.refusal().c_str());
    QVERIFY(checked.connectPath().size() < sizeof(sockaddr_un::sun_path));
}

QTEST_APPLESS_MAIN(TestPipeEndpoint)
#include "tst_pipeendpoint.moc"
