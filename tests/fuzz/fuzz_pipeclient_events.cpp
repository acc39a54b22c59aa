#include "ipc/pipeclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

// Daemon events through the client's own reader and handler: every byte a
// daemon could send, handled as if it had arrived on the pipe.

namespace {

QTemporaryDir *isolation = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Whatever a "diag_ready" names, nothing is written outside a throwaway
    // home, and no settings or runtime files of the user are touched.
    isolation = new QTemporaryDir;
    const QByteArray home = QFile::encodeName(isolation->path());
    qputenv("HOME", home + "/home");
    qputenv("XDG_CONFIG_HOME", home + "/config");
    qputenv("XDG_RUNTIME_DIR", home);
    qputenv("PROGRAMDATA", home + "/programdata");
    qputenv("KESTRIX_PIPE", home + "/no-daemon.sock");
    qunsetenv("XDG_DESKTOP_DIR");
    new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PipeClient client;
    // Half a second between reads: every pair of counters makes a speed.
    qint64 now = 1'700'000'000'000;
    client.setClock([&now] { return now += 500; });

    // The first byte chooses where the stream is cut in two reads.
    const QByteArray stream(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = size == 0 ? 0 : data[0] % (stream.size() + 1);
    client.processIncoming(stream.left(cut));
    client.processIncoming(stream.mid(cut));
    // Whatever the handler queued for later (a copy's report) runs too.
    QCoreApplication::processEvents();
    return 0;
}
