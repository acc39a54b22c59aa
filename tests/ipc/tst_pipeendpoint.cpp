#include "ipc/pipeendpoint.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// Where the client looks for the daemon and its token, with hostile values.
class TestPipeEndpoint : public QObject
{
    Q_OBJECT

private slots:
    void serverName_data();
    void serverName();
    void token_data();
    void token();
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

    QTest::newRow("regular") << "regular"
                             << "s3cr3t";
    QTest::newRow("CR LF and spaces") << "crlf"
                                      << "s3cr3t";
    QTest::newRow("link to a regular file") << "link"
                                            << "s3cr3t";
    QTest::newRow("exactly 4 KiB") << "4096" << QString(4096, 'k');
    QTest::newRow("5 KiB file") << "5120"
                                << "";
    QTest::newRow("FIFO") << "fifo"
                          << "";
    QTest::newRow("link to /dev/zero") << "devzero"
                                       << "";
    QTest::newRow("directory") << "directory"
                               << "";
    QTest::newRow("missing") << "missing"
                             << "";
}

void TestPipeEndpoint::token()
{
    QFETCH(QString, kind);
    QFETCH(QString, expected);

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
    else if (kind == "devzero")
        QVERIFY(QFile::link("/dev/zero", path));
    else if (kind == "directory")
        QVERIFY(QDir().mkdir(path));

    qputenv("PROGRAMDATA", programData.path().toUtf8());
    // A FIFO without a writer or /dev/zero would hang or grow without end here.
    QCOMPARE(PipeEndpoint::readToken(), expected);
    qunsetenv("PROGRAMDATA");
}

QTEST_APPLESS_MAIN(TestPipeEndpoint)
#include "tst_pipeendpoint.moc"
