#include "ipc/diagcopy.h"

#include "clientfixture.h"
#include "privatehomemain.h"

#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

// Copying the daemon's diagnostics file to a folder the user sees.
class TestDiagCopy : public QObject
{
    Q_OBJECT

private slots:
    void copy_data();
    void copy();
    void failedCopyKeepsExistingFile();
    void destinationLinkIsReplacedNotFollowed();
    void hiddenNameNeverReachesHome();
    void capHoldsWhileReading();
    void folder_data();
    void folder();
    void throughPipeClient_data();
    void throughPipeClient();

private:
    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    static QStringList entries(const QString &dir)
    {
        return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                   QDir::System);
    }
    // A source folder holding every kind of file the rows name.
    static void populate(const QString &from)
    {
        write(from + "/diag.zip", "PK-diagnostics");
        // Backslashes are ordinary name characters here, so these are real
        // files whose names test the separator rule.
        write(from + "/win\\dir\\diag.zip", "PK-diagnostics");
        QVERIFY(QDir(from).mkdir("sub\\dir"));
        write(from + "/sub\\dir/diag.zip", "PK-diagnostics");
        QVERIFY(QDir(from).mkdir("folder"));
        QVERIFY(QFile::link(from + "/diag.zip", from + "/link.zip"));
        QVERIFY(QFile::link("/dev/zero", from + "/zero.zip"));
        QCOMPARE(mkfifo(QFile::encodeName(from + "/fifo.zip").constData(), 0600), 0);
        // Names that must never reach the user's folder.
        write(from + "/.bashrc", "PK-diagnostics");
        write(from + "/diag\x01.zip", "PK-diagnostics");
        write(from + "/diag\n.zip", "PK-diagnostics");
        write(from + "/diag\x7F.zip", "PK-diagnostics");
        write(from + QStringLiteral("/diag\u202Epiz.exe"), "PK-diagnostics");
        write(from + "/diag.zip:stream", "PK-diagnostics");
        write(from + "/diag-2026 12 10.zip", "PK-diagnostics");
        // Another user's file; only root can make one.
        write(from + "/others.zip", "PK-diagnostics");
        if (geteuid() == 0)
            QCOMPARE(chown(QFile::encodeName(from + "/others.zip").constData(), 65534, 65534), 0);
    }
};

void TestDiagCopy::copy_data()
{
    QTest::addColumn<QString>("source");       // "@" stands for the source folder
    QTest::addColumn<qint64>("maxBytes");      // the size cap
    QTest::addColumn<QString>("expectedName"); // empty: the copy fails

    const qint64 cap = kMaxDiagnosticsBytes;
    QTest::newRow("plain file") << "@/diag.zip" << cap << "diag.zip";
    QTest::newRow("backslash path") << "@/win\\dir\\diag.zip" << cap << "diag.zip";
    QTest::newRow("name after last separator") << "@/sub\\dir/diag.zip" << cap << "diag.zip";
    QTest::newRow("at the size cap") << "@/diag.zip" << qint64(14) << "diag.zip";
    QTest::newRow("over the size cap") << "@/diag.zip" << qint64(13) << "";
    QTest::newRow("empty name") << "@/" << cap << "";
    QTest::newRow("dot") << "@/." << cap << "";
    QTest::newRow("dot dot") << "@/.." << cap << "";
    QTest::newRow("missing file") << "@/nothing.zip" << cap << "";
    QTest::newRow("directory") << "@/folder" << cap << "";
    QTest::newRow("symbolic link") << "@/link.zip" << cap << "";
    QTest::newRow("link to /dev/zero") << "@/zero.zip" << cap << "";
    QTest::newRow("FIFO") << "@/fifo.zip" << cap << "";
    QTest::newRow("device") << "/dev/zero" << cap << "";
    QTest::newRow("empty path") << "" << cap << "";
    QTest::newRow("spaces and dashes") << "@/diag-2026 12 10.zip" << cap << "diag-2026 12 10.zip";
    QTest::newRow("leading dot") << "@/.bashrc" << cap << "";
    QTest::newRow("control character") << "@/diag\x01.zip" << cap << "";
    QTest::newRow("line feed") << "@/diag\n.zip" << cap << "";
    QTest::newRow("delete character") << "@/diag\x7F.zip" << cap << "";
    QTest::newRow("direction override") << QStringLiteral("@/diag\u202Epiz.exe") << cap << "";
    QTest::newRow("stream separator") << "@/diag.zip:stream" << cap << "";
    QTest::newRow("another user's file") << "@/others.zip" << cap << "";
    // Reports a size of 0, holds more than the cap: only the reading can tell.
    QTest::newRow("content past the cap, size below it") << "/proc/self/maps" << qint64(64) << "";
}

void TestDiagCopy::copy()
{
    QFETCH(QString, source);
    QFETCH(qint64, maxBytes);
    QFETCH(QString, expectedName);

    QTemporaryDir from, desktop;
    populate(from.path());
    source.replace('@', from.path());
    if (source.endsWith("/others.zip") && geteuid() != 0)
        QSKIP("needs root to give a file to another user");
    if (source.startsWith("/proc/") && !QFileInfo(source).isFile())
        QSKIP("needs Linux procfs");

    // A FIFO without a writer or /dev/zero would hang or never end here.
    const QString result = copyDiagnostics(source, desktop.path(), maxBytes);
    if (expectedName.isEmpty()) {
        QCOMPARE(result, QString());
        QCOMPARE(entries(desktop.path()), QStringList());
        return;
    }
    QCOMPARE(result, desktop.path() + '/' + expectedName);
    QCOMPARE(read(result), QByteArray("PK-diagnostics"));
    QCOMPARE(entries(desktop.path()), QStringList{expectedName}); // no temporary left behind
}

void TestDiagCopy::failedCopyKeepsExistingFile()
{
    QTemporaryDir desktop;
    // A regular file whose reading fails part-way: the copy must fail and
    // leave the file already on the desktop untouched.
    const QString unreadable = QStringLiteral("/proc/self/mem");
    if (!QFileInfo(unreadable).isFile())
        QSKIP("needs Linux procfs");
    write(desktop.path() + "/mem", "old");
    QCOMPARE(copyDiagnostics(unreadable, desktop.path()), QString());
    QCOMPARE(read(desktop.path() + "/mem"), QByteArray("old"));
    QCOMPARE(entries(desktop.path()), QStringList{"mem"});
}

void TestDiagCopy::destinationLinkIsReplacedNotFollowed()
{
    // A link planted under the destination name must not carry the copy to
    // the file it points at.
    QTemporaryDir from, desktop, elsewhere;
    write(from.path() + "/diag.zip", "PK-diagnostics");
    const QString target = elsewhere.path() + "/precious";
    write(target, "precious");
    QVERIFY(QFile::link(target, desktop.path() + "/diag.zip"));

    const QString result = copyDiagnostics(from.path() + "/diag.zip", desktop.path());
    QCOMPARE(result, desktop.path() + "/diag.zip");
    QCOMPARE(read(target), QByteArray("precious"));
    QVERIFY(!QFileInfo(result).isSymLink());
    QCOMPARE(read(result), QByteArray("PK-diagnostics"));
}

void TestDiagCopy::hiddenNameNeverReachesHome()
{
    // Without a desktop or downloads folder the copies go to the home folder,
    // where a file named by the daemon could replace the user's own.
    QTemporaryDir home, from;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    auto restore = qScopeGuard([&] { qputenv("HOME", savedHome); });
    QCOMPARE(diagnosticsFolder(), home.path());
    write(home.path() + "/.bashrc", "mine");
    write(from.path() + "/.bashrc", "planted");

    ConnectedClient c;
    QVERIFY(c.start());
    QVERIFY(c.deliver(R"({"type":"diag_ready","diag_path":")" + from.path().toUtf8() +
                      R"(/.bashrc"})"));
    QTRY_COMPARE(c.client->status(), QStringLiteral("diag copy failed"));
    QCOMPARE(read(home.path() + "/.bashrc"), QByteArray("mine"));
}

void TestDiagCopy::capHoldsWhileReading()
{
    // Within the cap when opened, past it by the time it is read: a daemon
    // still writing the file, or one that means to fill the disk.
    QTemporaryDir from, desktop;
    const QString source = from.path() + "/diag.zip";
    write(source, QByteArray(100 * 1024, 'a'));
    QFile grower(source);
    QVERIFY(grower.open(QIODevice::Append));
    DiagCopyOptions options;
    options.maxBytes = 1024 * 1024;
    options.afterChunk = [&] {
        if (grower.size() < 4 * options.maxBytes) {
            grower.write(QByteArray(256 * 1024, 'b'));
            grower.flush();
        }
    };
    QCOMPARE(copyDiagnostics(source, desktop.path(), options), QString());
    QVERIFY(grower.size() > options.maxBytes); // it did grow past the cap
    QCOMPARE(entries(desktop.path()), QStringList());
}

void TestDiagCopy::folder_data()
{
    QTest::addColumn<QStringList>("folders");    // made under the home folder
    QTest::addColumn<QString>("desktopSetting"); // XDG_DESKTOP_DIR; empty: no user-dirs file
    QTest::addColumn<QString>("expected");       // relative to home; "." is home itself

    QTest::newRow("Desktop") << QStringList{"Desktop", "Downloads"} << ""
                             << "Desktop";
    QTest::newRow("no Desktop: Downloads") << QStringList{"Downloads"} << ""
                                           << "Downloads";
    QTest::newRow("neither: home") << QStringList{} << ""
                                   << ".";
    QTest::newRow("desktop named by user-dirs")
        << QStringList{"Desktop", "Schreibtisch"} << "$HOME/Schreibtisch"
        << "Schreibtisch";
    QTest::newRow("named desktop missing: Downloads")
        << QStringList{"Desktop", "Downloads"} << "$HOME/Schreibtisch"
        << "Downloads";
}

void TestDiagCopy::folder()
{
    QFETCH(QStringList, folders);
    QFETCH(QString, desktopSetting);
    QFETCH(QString, expected);

    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    auto restore = qScopeGuard([&] { qputenv("HOME", savedHome); });
    for (const QString &folder : folders)
        QVERIFY(QDir(home.path()).mkpath(folder));
    if (!desktopSetting.isEmpty()) {
        QVERIFY(QDir(home.path()).mkpath(".config"));
        write(home.path() + "/.config/user-dirs.dirs",
              "XDG_DESKTOP_DIR=\"" + desktopSetting.toUtf8() + "\"\n");
    }
    QCOMPARE(QDir(home.path()).relativeFilePath(diagnosticsFolder()), expected);
}

void TestDiagCopy::throughPipeClient_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<bool>("succeeds");

    const qint64 cap = kMaxDiagnosticsBytes;
    QTest::newRow("new file") << false << "kestrix-diag.zip" << cap << true;
    QTest::newRow("replaces the desktop's copy") << true << "kestrix-diag.zip" << cap << true;
    QTest::newRow("dot dot fails") << false << ".." << cap << false;
    QTest::newRow("FIFO fails") << false << "fifo.zip" << cap << false;
    QTest::newRow("link to /dev/zero fails") << false << "zero.zip" << cap << false;
    QTest::newRow("over the cap fails") << true << "kestrix-diag.zip" << qint64(4) << false;
    QTest::newRow("hidden name fails") << false << ".bashrc" << cap << false;
    QTest::newRow("control character fails") << false << "diag\n.zip" << cap << false;
    QTest::newRow("another user's file fails") << false << "others.zip" << cap << false;
}

void TestDiagCopy::throughPipeClient()
{
    QFETCH(bool, existing);
    QFETCH(QString, sourceName);
    QFETCH(qint64, maxBytes);
    QFETCH(bool, succeeds);

    if (sourceName == "others.zip" && geteuid() != 0)
        QSKIP("needs root to give a file to another user");
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QVERIFY(desktop.startsWith(QDir::homePath()));
    QVERIFY(QDir().mkpath(desktop));
    QTemporaryDir from;
    populate(from.path());
    write(from.path() + "/kestrix-diag.zip", "fresh");
    if (existing)
        write(desktop + "/kestrix-diag.zip", "stale");
    auto cleanup = qScopeGuard([&] { QFile::remove(desktop + "/kestrix-diag.zip"); });

    ConnectedClient c;
    QVERIFY(c.start());
    c.client->setMaxDiagnosticsBytes(maxBytes);
    QList<bool> onInterfaceThread;
    connect(
        c.client.get(), &PipeClient::diagReady, this,
        [&] {
            onInterfaceThread << (QThread::currentThread() ==
                                  QCoreApplication::instance()->thread());
        },
        Qt::DirectConnection);
    connect(
        c.client.get(), &PipeClient::statusChanged, this,
        [&] {
            if (c.client->status().startsWith("diag"))
                onInterfaceThread << (QThread::currentThread() ==
                                      QCoreApplication::instance()->thread());
        },
        Qt::DirectConnection);
    const QString source = from.path() + '/' + sourceName;
    // The interface answers the next message whatever the source is.
    const QJsonObject event{{"type", "diag_ready"}, {"diag_path", source}};
    QVERIFY(c.deliver(QJsonDocument(event).toJson(QJsonDocument::Compact)));

    const QString destination = desktop + "/kestrix-diag.zip";
    if (!succeeds) {
        QTRY_COMPARE(c.client->status(), QStringLiteral("diag copy failed"));
        QCOMPARE(onInterfaceThread, QList<bool>{true});
        QCOMPARE(read(destination), existing ? QByteArray("stale") : QByteArray("<unreadable>"));
        return;
    }
    QTRY_COMPARE(c.client->status(), "diag saved: " + destination);
    QCOMPARE(onInterfaceThread, (QList<bool>{true, true}));
    QCOMPARE(read(destination), QByteArray("fresh"));
}

KESTRIX_PRIVATE_HOME_MAIN(TestDiagCopy)

#include "tst_diagcopy.moc"
