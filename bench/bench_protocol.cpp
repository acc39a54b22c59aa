// Cost of the pipe's hot paths: cutting incoming bytes into events and
// encoding commands. A status report arrives every 1.5 s while connected.
#include "ipc/linereader.h"
#include "ipc/pipeclient.h"
#include "ipc/protocol.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

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

// The yardstick for the event path below: parsing the line alone.
void BM_ParseStatusLineOnly(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(kStatusLine));
    state.SetBytesProcessed(state.iterations() * kStatusLine.size());
}
BENCHMARK(BM_ParseStatusLineOnly);

// Sixteen status lines whose counters move from one to the next, so the
// traffic figures, the speeds and their notifications really change.
QList<QByteArray> movingStatusLines(const QByteArray &line)
{
    QList<QByteArray> lines;
    for (int i = 0; i < 16; ++i) {
        QByteArray moved = line;
        moved.replace("123456789", QByteArray::number(123456789 + i * 4096));
        moved.replace("987654321", QByteArray::number(987654321 + i * 65536));
        lines << moved;
    }
    return lines;
}

void applyStatusLines(benchmark::State &state, const QList<QByteArray> &lines)
{
    PipeClient client;
    qint64 now = 1'800'000'000'000;
    client.setClock([&now] { return now; });
    qsizetype i = 0;
    for (auto _ : state) {
        now += 1500;
        client.processIncoming(lines.at(i++ % lines.size()));
    }
    state.SetBytesProcessed(state.iterations() * lines.first().size());
}

// One status report as the pipe client takes it: cut, parsed and applied to
// the model, with counters that moved since the last one.
void BM_StatusLineCutParsedApplied(benchmark::State &state)
{
    applyStatusLines(state, movingStatusLines(kStatusLine));
}
BENCHMARK(BM_StatusLineCutParsedApplied);

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

// Prints, after the usual table, the status line's event path over the parse
// of the same line alone, from the same run (medians when repeated).
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration || median)
                m_cpuNs[run.run_name.str()] = run.GetAdjustedCPUTime();
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto base = m_cpuNs.find("BM_ParseStatusLineOnly");
        if (base == m_cpuNs.end())
            return;
        const char *name = "BM_StatusLineCutParsedApplied";
        if (const auto it = m_cpuNs.find(name); it != m_cpuNs.end())
            std::printf("%s / BM_ParseStatusLineOnly: %.2fx\n", name, it->second / base->second);
    }

private:
    std::map<std::string, double> m_cpuNs;
};

} // namespace

// The pipe client's status poll is a timer: it wants an application object.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The ratios go with the console table; another format asked for is left as it is.
    const bool console = std::none_of(argv + 1, argv + argc, [](const char *arg) {
        const std::string_view a(arg);
        return a.substr(0, 19) == "--benchmark_format=" && a != "--benchmark_format=console";
    });
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(console ? &reporter : nullptr);
    benchmark::Shutdown();
    return 0;
}
