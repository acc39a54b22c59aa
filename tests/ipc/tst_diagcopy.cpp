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
    void plainName_data();
    void plainName();
    void copy_data();
    void copy();
    void serviceAccountFiles_data();
    void serviceAccountFiles();
    void freeName_data();
    void freeName();
    void failedCopyKeepsExistingFile();
    void destinationLinkIsKeptNotFollowed();
    void hiddenNameNeverReachesHome();
    void capHoldsWhileReading();
    void folder_data();
    void folder();
    void throughPipeClient_data();
    void throughPipeClient();
    void onlyAskedForCopies();

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
        write(from + "/kestrix-diag-2026-12-11T03:15:00Z.zip", "PK-diagnostics");
        // Another user's file; only root can make one.
        write(from + "/others.zip", "PK-diagnostics");
        if (geteuid() == 0)
            QCOMPARE(chown(QFile::encodeName(from + "/others.zip").constData(), 65534, 65534), 0);
    }
};

void TestDiagCopy::plainName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("plain");

    QTest::newRow("plain") << "kestrix-diag.zip" << true;
    QTest::newRow("spaces, dashes, Cyrillic") << QStringLiteral("диагностика 2026-12.zip") << true;
    QTest::newRow("astral letter") << QStringLiteral("diag-\U0001D49F.zip") << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("leading dot") << ".bashrc" << false;
    QTest::newRow("slash") << "a/b.zip" << false;
    QTest::newRow("backslash") << "a\\b.zip" << false;
#ifdef Q_OS_WIN
    QTest::newRow("ISO time: colon names a stream")
        << "kestrix-diag-2026-12-11T03:15:00Z.zip" << false;
#else
    QTest::newRow("ISO time") << "kestrix-diag-2026-12-11T03:15:00Z.zip" << true;
#endif
    QTest::newRow("NUL") << QString::fromUtf16(u"diag\u0000.zip", 9) << false;
    QTest::newRow("control character") << "diag\x01.zip" << false;
    QTest::newRow("line feed") << "diag\n.zip" << false;
    QTest::newRow("delete") << "diag\x7F.zip" << false;
    QTest::newRow("C1 control") << QStringLiteral("diag\u0085.zip") << false;
    QTest::newRow("line separator") << QStringLiteral("diag\u2028.zip") << false;
    QTest::newRow("paragraph separator") << QStringLiteral("diag\u2029.zip") << false;
    QTest::newRow("zero width space") << QStringLiteral("diag\u200B.zip") << false;
    QTest::newRow("byte order mark") << QStringLiteral("\uFEFFdiag.zip") << false;
    QTest::newRow("direction override") << QStringLiteral("diag\u202Epiz.exe") << false;
    QTest::newRow("astral tag letter") << QStringLiteral("diag\U000E0041.zip") << false;
    QTest::newRow("astral format character") << QStringLiteral("diag\U0001BCA0.zip") << false;
    QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) + "diag.zip" << false;
}

void TestDiagCopy::plainName()
{
    QFETCH(QString, name);
    QFETCH(bool, plain);
    QCOMPARE(isPlainFileName(name), plain);
}

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
    QTest::newRow("ISO time") << "@/kestrix-diag-2026-12-11T03:15:00Z.zip" << cap
                              << "kestrix-diag-2026-12-11T03:15:00Z.zip";
    QTest::newRow("leading dot") << "@/.bashrc" << cap << "";
    QTest::newRow("control character") << "@/diag\x01.zip" << cap << "";
    QTest::newRow("line feed") << "@/diag\n.zip" << cap << "";
    QTest::newRow("delete character") << "@/diag\x7F.zip" << cap << "";
    QTest::newRow("direction override") << QStringLiteral("@/diag\u202Epiz.exe") << cap << "";
#ifdef Q_OS_WIN
    QTest::newRow("stream separator") << "@/diag.zip:stream" << cap << "";
#else
    QTest::newRow("colon, no stream here") << "@/diag.zip:stream" << cap << "diag.zip:stream";
#endif
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

void TestDiagCopy::serviceAccountFiles_data()
{
    QTest::addColumn<uint>("owner");
    QTest::addColumn<QString>("serviceAccount"); // whom the daemon was trusted as
    QTest::addColumn<bool>("copied");

    QTest::newRow("the service account's file") << 65534u << "65534" << true;
    QTest::newRow("no service account") << 65534u << "" << false;
    QTest::newRow("another account's file") << 65534u << "65533" << false;
    QTest::newRow("root's file, a service daemon") << 0u << "65534" << true;
}

void TestDiagCopy::serviceAccountFiles()
{
    QFETCH(uint, owner);
    QFETCH(QString, serviceAccount);
    QFETCH(bool, copied);
    if (geteuid() != 0)
        QSKIP("needs root to give a file to another user (uid 65534); runs in CI as root");

    QTemporaryDir from, desktop;
    const QString source = from.path() + "/kestrix-diag.zip";
    write(source, "PK-diagnostics");
    QCOMPARE(chown(QFile::encodeName(source).constData(), owner, owner), 0);
    DiagCopyOptions options;
    options.serviceAccount = serviceAccount.toStdString();
    const QString result = copyDiagnostics(source, desktop.path(), options);
    QCOMPARE(result, copied ? desktop.path() + "/kestrix-diag.zip" : QString());
    QCOMPARE(entries(desktop.path()), copied ? QStringList{"kestrix-diag.zip"} : QStringList());
}

void TestDiagCopy::freeName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("existing"); // on the desktop before the copy
    QTest::addColumn<QString>("expected");     // empty: the copy fails

    QTest::newRow("free") << "diag.zip" << QStringList{} << "diag.zip";
    QTest::newRow("taken") << "diag.zip" << QStringList{"diag.zip"} << "diag (2).zip";
    QTest::newRow("taken twice") << "diag.zip" << QStringList{"diag.zip", "diag (2).zip"}
                                 << "diag (3).zip";
    QTest::newRow("a gap is used")
        << "diag.zip" << QStringList{"diag.zip", "diag (3).zip"} << "diag (2).zip";
    QTest::newRow("a folder takes the name")
        << "diag.zip" << QStringList{"diag.zip/"} << "diag (2).zip";
    QTest::newRow("no extension") << "diag" << QStringList{"diag"} << "diag (2)";
    QTest::newRow("last extension")
        << "diag.tar.gz" << QStringList{"diag.tar.gz"} << "diag.tar (2).gz";
    QStringList all{"diag.zip"};
    for (int n = 2; n <= kMaxCopyNames; ++n)
        all << QStringLiteral("diag (%1).zip").arg(n);
    QTest::newRow("every name taken") << "diag.zip" << all << "";
}

// A file the user already has under the name is never replaced: the copy
// takes the next free name, as a file manager numbers copies.
void TestDiagCopy::freeName()
{
    QFETCH(QString, name);
    QFETCH(QStringList, existing);
    QFETCH(QString, expected);

    QTemporaryDir from, desktop;
    write(from.path() + '/' + name, "PK-diagnostics");
    for (const QString &entry : existing) {
        if (entry.endsWith('/'))
            QVERIFY(QDir(desktop.path()).mkdir(entry.chopped(1)));
        else
            write(desktop.path() + '/' + entry, "mine");
    }

    const QString result = copyDiagnostics(from.path() + '/' + name, desktop.path());
    QCOMPARE(result, expected.isEmpty() ? QString() : desktop.path() + '/' + expected);
    for (const QString &entry : existing) {
        if (!entry.endsWith('/'))
            QCOMPARE(read(desktop.path() + '/' + entry), QByteArray("mine"));
    }
    if (!expected.isEmpty())
        QCOMPARE(read(result), QByteArray("PK-diagnostics"));
    // Nothing but the copy was added, not even a temporary file.
    QCOMPARE(entries(desktop.path()).size(), existing.size() + (expected.isEmpty() ? 0 : 1));
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

void TestDiagCopy::destinationLinkIsKeptNotFollowed()
{
    // A link planted under the destination name must not carry the copy to
    // the file it points at; it is a name taken like any other.
    QTemporaryDir from, desktop, elsewhere;
    write(from.path() + "/diag.zip", "PK-diagnostics");
    const QString target = elsewhere.path() + "/precious";
    write(target, "precious");
    QVERIFY(QFile::link(target, desktop.path() + "/diag.zip"));

    const QString result = copyDiagnostics(from.path() + "/diag.zip", desktop.path());
    QCOMPARE(result, desktop.path() + "/diag (2).zip");
    QCOMPARE(read(target), QByteArray("precious"));
    QCOMPARE(QFileInfo(desktop.path() + "/diag.zip").symLinkTarget(), target);
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
    c.client->sendGetDiag();
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
    QTest::newRow("keeps the desktop's copy") << true << "kestrix-diag.zip" << cap << true;
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
    auto cleanup = qScopeGuard([&] {
        QFile::remove(desktop + "/kestrix-diag.zip");
        QFile::remove(desktop + "/kestrix-diag (2).zip");
    });

    ConnectedClient c;
    QVERIFY(c.start());
    c.client->setMaxDiagnosticsBytes(maxBytes);
    c.client->sendGetDiag();
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
    // The user's own file of that name stays; the copy takes the next name.
    const QString copy = existing ? desktop + "/kestrix-diag (2).zip" : destination;
    QTRY_COMPARE(c.client->status(), "diag saved: " + copy);
    QCOMPARE(onInterfaceThread, (QList<bool>{true, true}));
    QCOMPARE(read(copy), QByteArray("fresh"));
    if (existing)
        QCOMPARE(read(destination), QByteArray("stale"));
}

// A "diag_ready" is acted on only as the answer to this interface's own
// request, once per request; one nobody asked for writes nothing.
void TestDiagCopy::onlyAskedForCopies()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QVERIFY(QDir().mkpath(desktop));
    auto cleanup = qScopeGuard([&] { QDir(desktop).removeRecursively(); });
    QTemporaryDir from;
    const auto ready = [&](const QByteArray &name) {
        write(from.path() + '/' + QString::fromUtf8(name), name);
        return R"({"type":"diag_ready","diag_path":")" + QFile::encodeName(from.path()) + '/' +
               name + "\"}";
    };
    ConnectedClient c;
    QVERIFY(c.start());
    // Copies run one after another: once the answer to the last request is
    // saved, anything an earlier event started has been saved too.
    const auto askAndAnswer = [&](const QList<QByteArray> &answers, const QByteArray &saved) {
        const qsizetype before = c.daemon.lines().size();
        c.client->sendGetDiag();
        return c.daemon.waitForLines(int(before) + 1) &&
               c.daemon.lines().constLast() == R"({"cmd":"get_diag"})" && c.deliver(answers) &&
               QTest::qWaitFor(
                   [&] { return c.client->status() == "diag saved: " + desktop + '/' + saved; });
    };

    // Unasked ones are ignored, logged once.
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("nobody asked for"));
    QVERIFY(c.deliver({ready("unasked.zip"), ready("unasked.zip"), ready("unasked.zip")}));
    // Asked once, answered twice: only the first answer is copied.
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("nobody asked for"));
    QVERIFY(askAndAnswer({ready("first.zip"), ready("second.zip")}, "first.zip"));
    QVERIFY(askAndAnswer({ready("third.zip")}, "third.zip"));
    QCOMPARE(entries(desktop), (QStringList{"first.zip", "third.zip"}));

    // A request that a lost connection took with it is not answered later.
    c.client->sendGetDiag();
    QVERIFY(c.daemon.waitForLines(3));
    c.daemon.drop();
    QVERIFY(c.daemon.waitForConnection(2));
    QVERIFY(c.daemon.waitForLines(4)); // the new handshake
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("nobody asked for"));
    QVERIFY(c.deliver(ready("lost.zip")));
    QVERIFY(askAndAnswer({ready("fourth.zip")}, "fourth.zip"));
    QCOMPARE(entries(desktop), (QStringList{"first.zip", "fourth.zip", "third.zip"}));
}

KESTRIX_PRIVATE_HOME_MAIN(TestDiagCopy)

#include "tst_diagcopy.moc"
