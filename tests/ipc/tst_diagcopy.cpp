#include "ipc/diagcopy.h"

#include "clientfixture.h"

#include <QFile>
#include <QStandardPaths>
#include <QtTest>

// Copying the daemon's diagnostics file to the desktop.
class TestDiagCopy : public QObject
{
    Q_OBJECT

private slots:
    void copy_data();
    void copy();
    void failedCopyKeepsExistingFile();
    void throughPipeClient_data();
    void throughPipeClient();

private:
    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
};

void TestDiagCopy::copy_data()
{
    QTest::addColumn<QString>("source");       // "@" stands for the source folder
    QTest::addColumn<QString>("expectedName"); // empty: the copy fails

    QTest::newRow("plain file") << "@/diag.zip"
                                << "diag.zip";
    QTest::newRow("backslash path") << "@\\diag.zip"
                                    << "";
    QTest::newRow("name after last separator") << "@/sub\\diag.zip"
                                               << "";
    QTest::newRow("empty name") << "@/"
                                << "";
    QTest::newRow("dot") << "@/."
                         << "";
    QTest::newRow("dot dot") << "@/.."
                             << "";
    QTest::newRow("missing file") << "@/nothing.zip"
                                  << "";
    QTest::newRow("directory") << "@/folder"
                               << "";
    QTest::newRow("symbolic link") << "@/link.zip"
                                   << "";
    QTest::newRow("device") << "/dev/zero"
                            << "";
    QTest::newRow("empty path") << ""
                                << "";
}

void TestDiagCopy::copy()
{
    QFETCH(QString, source);
    QFETCH(QString, expectedName);

    QTemporaryDir from, desktop;
    write(from.path() + "/diag.zip", "PK-diagnostics");
    QVERIFY(QDir(from.path()).mkdir("folder"));
    QVERIFY(QFile::link(from.path() + "/diag.zip", from.path() + "/link.zip"));
    source.replace('@', from.path());

    const QString result = copyDiagnostics(source, desktop.path());
    if (expectedName.isEmpty()) {
        QCOMPARE(result, QString());
        QCOMPARE(
            QDir(desktop.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList());
        return;
    }
    QCOMPARE(result, desktop.path() + '/' + expectedName);
    QFile copied(result);
    QVERIFY(copied.open(QIODevice::ReadOnly));
    QCOMPARE(copied.readAll(), QByteArray("PK-diagnostics"));
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
    QFile kept(desktop.path() + "/mem");
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("old"));
    QCOMPARE(QDir(desktop.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"mem"});
}

void TestDiagCopy::throughPipeClient_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<bool>("succeeds");

    QTest::newRow("new file") << false << "kestrix-diag.zip" << true;
    QTest::newRow("replaces the desktop's copy") << true << "kestrix-diag.zip" << true;
    QTest::newRow("dot dot fails") << false << ".." << false;
}

void TestDiagCopy::throughPipeClient()
{
    QFETCH(bool, existing);
    QFETCH(QString, sourceName);
    QFETCH(bool, succeeds);

    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QVERIFY(desktop.startsWith(QDir::homePath()));
    QVERIFY(QDir().mkpath(desktop));
    QTemporaryDir from;
    write(from.path() + "/kestrix-diag.zip", "fresh");
    if (existing)
        write(desktop + "/kestrix-diag.zip", "stale");

    ConnectedClient c;
    QVERIFY(c.start());
    QSignalSpy ready(c.client.get(), &PipeClient::diagReady);
    QStringList statuses;
    connect(c.client.get(), &PipeClient::statusChanged, this,
            [&] { statuses << c.client->status(); });
    const QString source = from.path() + '/' + sourceName;
    QVERIFY(c.deliver(R"({"type":"diag_ready","diag_path":")" + source.toUtf8() + R"("})"));

    if (!succeeds) {
        QCOMPARE(ready.count(), 0);
        QCOMPARE(statuses.value(0), QStringLiteral("diag copy failed"));
        return;
    }
    QCOMPARE(ready.count(), 1);
    QCOMPARE(ready.first().first().toString(), desktop + "/kestrix-diag.zip");
    QFile copied(desktop + "/kestrix-diag.zip");
    QVERIFY(copied.open(QIODevice::ReadOnly));
    QCOMPARE(copied.readAll(), QByteArray("fresh"));
    QFile::remove(desktop + "/kestrix-diag.zip");
}

int main(int argc, char **argv)
{
    // A private home, so the desktop folder is the test's own.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("PROGRAMDATA");
    QCoreApplication app(argc, argv);
    TestDiagCopy test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_diagcopy.moc"
