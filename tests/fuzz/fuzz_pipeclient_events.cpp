#include "ipc/daemontext.h"
#include "ipc/pipeclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Daemon events through the client's own reader and handler: every byte a
// daemon could send, handled as if it had arrived on the pipe. Beyond not
// crashing: no text of the daemon reaches the interface unbounded, and the
// update progress stays a percentage.

namespace {

QTemporaryDir *isolation = nullptr;
// A daemon's end that accepts and says nothing, so the client can be
// connected and have asked for diagnostics before the bytes arrive.
QLocalServer *daemonEnd = nullptr;

// A daemon text after the cut, with room for the words the client puts before it.
void checkBounded(const QString &text, qsizetype prefix = 0)
{
    if (text.size() > DaemonText::kMaxChars + 1 + prefix)
        std::abort();
}

void checkModel(const PipeClient &client)
{
    for (const QString &text : {client.vpnState(), client.vpnIp(), client.transport(),
                                client.endpoint(), client.errorText(), client.killSwitchMode(),
                                client.updateVersion(), client.connectedSince()})
        checkBounded(text);
    // "ready — daemon v" is the longest of them; a copy's path is the file system's to bound.
    if (!client.status().startsWith(QLatin1String("diag saved: ")))
        checkBounded(client.status(), 16);
    if (client.updateProgress() < 0 || client.updateProgress() > 100)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Whatever a "diag_ready" names, nothing is written outside a throwaway
    // home, and no settings or runtime files of the user are touched.
    isolation = new QTemporaryDir;
    const QByteArray home = QFile::encodeName(isolation->path());
    qputenv("HOME", home + "/home");
    // Copies asked for land here (a seed names /etc/passwd, which every
    // Linux has, readable by all and the system's own).
    if (!QDir().mkpath(QFile::decodeName(home + "/home")))
        std::abort();
    qputenv("XDG_CONFIG_HOME", home + "/config");
    qputenv("XDG_RUNTIME_DIR", home);
    qputenv("PROGRAMDATA", home + "/programdata");
    qputenv("KESTRIX_PIPE", home + "/daemon.sock");
    qunsetenv("XDG_DESKTOP_DIR");
    new QCoreApplication(*argc, *argv);
    daemonEnd = new QLocalServer;
    if (!daemonEnd->listen(QFile::decodeName(home + "/daemon.sock")))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PipeClient client;
    // Half a second between reads: every pair of counters makes a speed.
    qint64 now = 1'700'000'000'000;
    client.setClock([&now] { return now += 500; });
    QObject::connect(&client, &PipeClient::versionReceived,
                     [](const QString &version) { checkBounded(version); });
    QObject::connect(&client, &PipeClient::loginFailed,
                     [](const QString &error) { checkBounded(error); });
    QObject::connect(&client, &PipeClient::browserOpened,
                     [](const QString &, const QString &expiresAt) { checkBounded(expiresAt); });
    QObject::connect(&client, &PipeClient::vpnStateChanged, [&client] { checkModel(client); });
    QObject::connect(&client, &PipeClient::statusChanged, [&client] { checkModel(client); });
    QObject::connect(&client, &PipeClient::updating, [&client] { checkModel(client); });

    // The first byte chooses where the stream is cut in two reads, and
    // whether the client is connected with one or two diagnostics requests
    // out (else a "diag_ready" is one nobody asked for).
    const QByteArray stream(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = size == 0 ? 0 : data[0] % (stream.size() + 1);
    if (size > 0 && (data[0] & 1) != 0) {
        client.connectToPipe();
        QCoreApplication::processEvents();
        for (int request = 0; request <= ((data[0] >> 1) & 1); ++request)
            client.sendGetDiag();
    }
    client.processIncoming(stream.left(cut));
    client.processIncoming(stream.mid(cut));
    // Whatever the handler queued for later (a copy's report) runs too.
    QCoreApplication::processEvents();
    checkModel(client);
    while (QLocalSocket *connection = daemonEnd->nextPendingConnection())
        delete connection;
    return 0;
}
