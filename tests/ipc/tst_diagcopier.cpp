#include "ipc/diagnosticscopier.h"

#include "clientfixture.h"
#include "privatehomemain.h"

#include <QFile>
#include <QSemaphore>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <atomic>

// The diagnostics copies as a daemon that announces too many, or a user who
// quits in the middle of one, leaves them: one copy at a time, the newest
// request waiting, and nothing left running or half-written on the way out.
class TestDiagCopier : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void newestRequestWins();
    void burstOfEventsThroughPipeClient();
    void quittingCancelsTheCopyAndPending();
    void quittingDoesNotWaitForAStuckCopy();

private:
    // n source files "diag-<i>.zip" in the source folder, each holding its name.
    QStringList makeSources(int n)
    {
        QStringList paths;
        for (int i = 0; i < n; ++i) {
            const QString path = m_sources->path() + QStringLiteral("/diag-%1.zip").arg(i);
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly))
                return {};
            f.write(QFileInfo(path).fileName().toUtf8());
            paths << path;
        }
        return paths;
    }
    // A source of the given size, copied in 64 KiB chunks.
    QString makeLargeSource(qint64 bytes)
    {
        const QString path = m_sources->path() + QStringLiteral("/large.zip");
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(bytes))
            return {};
        return path;
    }
    QStringList desktopEntries() const
    {
        return QDir(m_desktop).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    std::unique_ptr<QTemporaryDir> m_sources;
    QString m_desktop;
};

void TestDiagCopier::init()
{
    m_sources = std::make_unique<QTemporaryDir>();
    m_desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QVERIFY(m_desktop.startsWith(QDir::homePath()));
    QVERIFY(QDir().mkpath(m_desktop));
}

void TestDiagCopier::cleanup()
{
    QDir(m_desktop).removeRecursively();
}

void TestDiagCopier::newestRequestWins()
{
    const QStringList sources = makeSources(50);
    QCOMPARE(sources.size(), 50);

    DiagnosticsCopier copier;
    QSignalSpy copied(&copier, &DiagnosticsCopier::copied);
    QSignalSpy failed(&copier, &DiagnosticsCopier::failed);
    // All asked for before the first copy can report: it runs, the rest wait
    // in one place, and only the newest of them is copied after it.
    for (const QString &source : sources)
        copier.request(source);
    QVERIFY(copier.isBusy());
    QTRY_VERIFY(!copier.isBusy());

    QCOMPARE(failed.count(), 0);
    QCOMPARE(copied.count(), 2);
    QCOMPARE(copied.at(0).at(0).toString(), m_desktop + "/diag-0.zip");
    QCOMPARE(copied.at(1).at(0).toString(), m_desktop + "/diag-49.zip");
    QCOMPARE(desktopEntries(), (QStringList{"diag-0.zip", "diag-49.zip"}));
}

void TestDiagCopier::burstOfEventsThroughPipeClient()
{
    // A daemon flooding "diag_ready" while the copy it was asked for is under
    // way: one copy per request, not one per event.
    const QStringList sources = makeSources(2);
    QCOMPARE(sources.size(), 2);
    ConnectedClient c;
    QVERIFY(c.start());
    c.client->sendGetDiag();
    QSemaphore release;
    std::atomic<bool> held{false};
    c.client->setDiagnosticsAfterChunk([&] {
        if (!held.exchange(true))
            release.acquire(); // the first copy waits here until all events are in
    });

    QByteArray burst;
    for (int i = 0; i < 20000; ++i)
        burst += R"({"type":"diag_ready","diag_path":")" + sources.at(0).toUtf8() + "\"}\n";
    burst += R"({"type":"diag_ready","diag_path":")" + sources.at(1).toUtf8() + "\"}";
    QVERIFY(c.deliver(burst));
    QTRY_VERIFY(held.load());
    release.release();

    QTRY_COMPARE(c.client->status(), "diag saved: " + m_desktop + "/diag-0.zip");
    // Asked once more: the answer is copied, nothing of the flood before it.
    c.client->sendGetDiag();
    QVERIFY(c.deliver(R"({"type":"diag_ready","diag_path":")" + sources.at(1).toUtf8() + "\"}"));
    QTRY_COMPARE(c.client->status(), "diag saved: " + m_desktop + "/diag-1.zip");
    QCOMPARE(desktopEntries(), (QStringList{"diag-0.zip", "diag-1.zip"}));
}

void TestDiagCopier::quittingCancelsTheCopyAndPending()
{
    // 32 MiB in 64 KiB chunks, 20 ms each: ten seconds of copying.
    const QString large = makeLargeSource(qint64(32) * 1024 * 1024);
    QVERIFY(!large.isEmpty());
    const QStringList small = makeSources(1);
    std::atomic<int> chunks{0};
    ConnectedClient c;
    QVERIFY(c.start());
    c.client->setDiagnosticsAfterChunk([&] {
        ++chunks;
        QThread::msleep(20);
    });
    // Two requests: the large copy runs, the small one waits behind it.
    c.client->sendGetDiag();
    c.client->sendGetDiag();
    QByteArray burst;
    burst += R"({"type":"diag_ready","diag_path":")" + large.toUtf8() + "\"}\n";
    for (int i = 0; i < 2000; ++i)
        burst += R"({"type":"diag_ready","diag_path":")" + small.at(0).toUtf8() + "\"}\n";
    c.client->processIncoming(burst);
    QTRY_VERIFY(chunks.load() > 0);

    c.client.reset();
    // The copy stopped at its next chunk: nothing more is read, nothing is
    // left on the desktop (not even the temporary file), and the pending
    // request never ran.
    const int atQuit = chunks.load();
    QVERIFY2(atQuit < 512, "quitting waited for the whole copy");
    QTest::qWait(200);
    QCOMPARE(chunks.load(), atQuit);
    QCOMPARE(desktopEntries(), QStringList());
}

void TestDiagCopier::quittingDoesNotWaitForAStuckCopy()
{
    // A read that never returns (a hung network file system) cannot be
    // cancelled: quitting leaves it behind instead of waiting for it.
    const QStringList sources = makeSources(1);
    std::atomic<bool> inside{false};
    QSemaphore unstick;
    auto copier = std::make_unique<DiagnosticsCopier>();
    copier->setAfterChunk([&] {
        inside = true;
        unstick.tryAcquire(1, 10000);
        inside = false;
    });
    copier->request(sources.at(0));
    QTRY_VERIFY(inside.load());

    copier.reset();
    QVERIFY2(inside.load(), "quitting waited for the stuck copy");

    // Let it end so the test leaves no thread behind; it reports to no one.
    unstick.release();
    QTRY_VERIFY(!inside.load());
    QTest::qWait(100);
    QCOMPARE(desktopEntries(), QStringList());
}

KESTRIX_PRIVATE_HOME_MAIN(TestDiagCopier)

#include "tst_diagcopier.moc"
