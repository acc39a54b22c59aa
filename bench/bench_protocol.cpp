// Cost of the pipe's hot paths: cutting incoming bytes into events and
// encoding commands. A status report arrives every 1.5 s while connected.
#include "ipc/linereader.h"
#include "ipc/protocol.h"

#include <benchmark/benchmark.h>

namespace {

const QByteArray kStatusLine =
    R"({"type":"status","authenticated":true,"kill_switch_mode":"never","status":"connected",)"
    R"("ip":"10.8.0.2","transport":"udp","endpoint":"de1.example.net:443","attempt":0,"error":"",)"
    R"("up":123456789,"down":987654321,"connected_since":"2026-12-10T01:00:00Z"})"
    "\n";

void BM_FeedStatusLine(benchmark::State &state)
{
    LineReader reader;
    for (auto _ : state)
        benchmark::DoNotOptimize(reader.feed(kStatusLine));
    state.SetBytesProcessed(state.iterations() * kStatusLine.size());
}
BENCHMARK(BM_FeedStatusLine);

void BM_FeedStatusLineInSmallReads(benchmark::State &state)
{
    LineReader reader;
    const int chunk = int(state.range(0));
    for (auto _ : state) {
        for (qsizetype pos = 0; pos < kStatusLine.size(); pos += chunk)
            benchmark::DoNotOptimize(reader.feed(kStatusLine.mid(pos, chunk)));
    }
    state.SetBytesProcessed(state.iterations() * kStatusLine.size());
}
BENCHMARK(BM_FeedStatusLineInSmallReads)->Arg(7)->Arg(64);

void BM_DiscardOverlongLine(benchmark::State &state)
{
    const QByteArray block(64 * 1024, 'x');
    LineReader reader;
    for (auto _ : state)
        benchmark::DoNotOptimize(reader.feed(block));
    state.SetBytesProcessed(state.iterations() * block.size());
}
BENCHMARK(BM_DiscardOverlongLine);

void BM_EncodeConnect(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Protocol::command(
            QStringLiteral("connect"),
            QJsonObject{{QStringLiteral("whitelist"), true}, {QStringLiteral("games"), false}}));
}
BENCHMARK(BM_EncodeConnect);

} // namespace

BENCHMARK_MAIN();
