// Start-up time, memory and idle CPU of the real binary.
//
// Starts `kestrix --minimized` on the offscreen platform against an in-process
// daemon that answers the handshake, and reports per run:
//   - ms until the single-instance socket exists (start-up reached its
//     running phase),
//   - ms until the daemon received the handshake (200 ms of it by design),
//   - resident memory after settling (VmRSS, VmHWM),
//   - CPU ms the process used while idle for a few seconds, signed in and
//     disconnected: an idle front end should use next to none.
// Usage: bench_startup_idle <path to kestrix> [runs]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <unistd.h>

namespace {

qint64 procStatusKb(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    return -1;
}

double cpuMs(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

struct Run
{
    qint64 runningMs = -1, handshakeMs = -1, rssKb = -1, hwmKb = -1;
    double idleCpuMs = -1;
};

Run runOnce(const QString &binary)
{
    Run r;
    QTemporaryDir dir;
    for (const char *sub : {"bin", "config", "runtime", "home"})
        QDir(dir.path()).mkdir(sub);
    QFile::setPermissions(dir.path() + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString copy = dir.path() + "/bin/kestrix"; // no daemon beside it
    QFile::copy(binary, copy);

    QLocalServer daemon;
    daemon.listen(dir.path() + "/daemon.sock");
    QElapsedTimer clock;
    QObject::connect(&daemon, &QLocalServer::newConnection, [&] {
        QLocalSocket *peer = daemon.nextPendingConnection();
        QObject::connect(peer, &QLocalSocket::readyRead, [&, peer] {
            const QByteArray in = peer->readAll();
            if (in.contains("KESTRIX_IPC")) {
                r.handshakeMs = clock.elapsed();
                peer->write(R"({"type":"ready","version":"bench"})"
                            "\n"
                            R"({"type":"status","authenticated":true,"status":"disconnected"})"
                            "\n");
            } else if (in.contains(R"("status")")) {
                peer->write(R"({"type":"status","authenticated":true,"status":"disconnected"})"
                            "\n");
            }
        });
    });

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", dir.path() + "/runtime");
    env.insert("XDG_CONFIG_HOME", dir.path() + "/config");
    env.insert("HOME", dir.path() + "/home");
    env.insert("KESTRIX_PIPE", dir.path() + "/daemon.sock");
    env.remove("PROGRAMDATA");
    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    clock.start();
    app.start(copy, {"--minimized"});
    app.waitForStarted();
    const QString single = dir.path() + "/runtime/kestrix-ui-single";
    if (waitFor([&] { return QFileInfo::exists(single); }, 20000))
        r.runningMs = clock.elapsed();
    waitFor([&] { return r.handshakeMs >= 0; }, 20000);
    waitFor([] { return false; }, 1500); // settle
    const qint64 pid = app.processId();
    const double before = cpuMs(pid);
    waitFor([] { return false; }, 5000);
    r.idleCpuMs = cpuMs(pid) - before;
    r.rssKb = procStatusKb(pid, "VmRSS:");
    r.hwmKb = procStatusKb(pid, "VmHWM:");
    app.kill();
    app.waitForFinished();
    return r;
}

template <typename T> T median(std::vector<T> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        QTextStream(stderr) << "usage: bench_startup_idle <kestrix binary> [runs]\n";
        return 2;
    }
    const int runs = std::max(1, args.value(2, "5").toInt());
    std::vector<qint64> running, handshake, rss, hwm;
    std::vector<double> idle;
    QTextStream out(stdout);
    for (int i = 0; i < runs; ++i) {
        const Run r = runOnce(args.at(1));
        out << "run " << i + 1 << ": running " << r.runningMs << " ms, handshake " << r.handshakeMs
            << " ms, RSS " << r.rssKb << " kB (peak " << r.hwmKb << " kB), idle CPU " << r.idleCpuMs
            << " ms / 5 s\n";
        out.flush();
        running.push_back(r.runningMs);
        handshake.push_back(r.handshakeMs);
        rss.push_back(r.rssKb);
        hwm.push_back(r.hwmKb);
        idle.push_back(r.idleCpuMs);
    }
    out << "median: running " << median(running) << " ms, handshake " << median(handshake)
        << " ms, RSS " << median(rss) << " kB (peak " << median(hwm) << " kB), idle CPU "
        << median(idle) << " ms / 5 s\n";
    return 0;
}
