import QtQuick
import QtTest
import "qrc:/qml/format.js" as Fmt

TestCase {
    name: "Format"

    function test_bytes_data() {
        return [
            { tag: "zero", value: 0, expected: "0 B" },
            { tag: "negative", value: -5, expected: "0 B" },
            { tag: "missing", value: undefined, expected: "0 B" },
            { tag: "NaN", value: NaN, expected: "0 B" },
            { tag: "infinite", value: Infinity, expected: "0 B" },
            { tag: "1023", value: 1023, expected: "1023 B" },
            { tag: "1024", value: 1024, expected: "1.00 KB" },
            { tag: "1536", value: 1536, expected: "1.50 KB" },
            { tag: "9.999 KB rounds up, two decimals kept", value: 10239, expected: "10.00 KB" },
            { tag: "10240", value: 10240, expected: "10.0 KB" },
            { tag: "102399", value: 102399, expected: "100.0 KB" },
            { tag: "102400", value: 102400, expected: "100 KB" },
            { tag: "1048575", value: 1048575, expected: "1024 KB" },
            { tag: "1048576", value: 1048576, expected: "1.00 MB" },
            { tag: "no unit above TB", value: 2048 * Math.pow(1024, 4), expected: "2048 TB" },
        ];
    }
    function test_bytes(data) {
        compare(Fmt.bytes(data.value), data.expected);
    }

    function test_speed_data() {
        return [
            { tag: "zero", value: 0, expected: "0 KB/s" },
            { tag: "below one", value: 0.5, expected: "0 KB/s" },
            { tag: "missing", value: undefined, expected: "0 KB/s" },
            { tag: "NaN", value: NaN, expected: "0 KB/s" },
            { tag: "negative", value: -2048, expected: "0 KB/s" },
            { tag: "infinite", value: Infinity, expected: "0 KB/s" },
            { tag: "1", value: 1, expected: "1 B/s" },
            { tag: "1023", value: 1023, expected: "1023 B/s" },
            { tag: "1024", value: 1024, expected: "1.0 KB/s" },
            { tag: "10239", value: 10239, expected: "10.0 KB/s" },
            { tag: "10240", value: 10240, expected: "10 KB/s" },
            { tag: "356 KB/s", value: 356 * 1024, expected: "356 KB/s" },
            { tag: "1.4 MB/s", value: 1.4 * 1024 * 1024, expected: "1.4 MB/s" },
            { tag: "no unit above GB/s", value: 3000 * Math.pow(1024, 3), expected: "3000 GB/s" },
        ];
    }
    function test_speed(data) {
        compare(Fmt.speed(data.value), data.expected);
    }

    readonly property string start: "2024-03-01T10:00:00Z"
    readonly property double startMs: Date.UTC(2024, 2, 1, 10, 0, 0)

    function test_duration_data() {
        return [
            { tag: "0 s", since: start, now: startMs, expected: "00:00" },
            { tag: "empty", since: "", now: startMs, expected: "00:00" },
            { tag: "missing", since: undefined, now: startMs, expected: "00:00" },
            { tag: "unparsable", since: "yesterday", now: startMs, expected: "00:00" },
            { tag: "future start", since: start, now: startMs - 5000, expected: "00:00" },
            { tag: "partial second", since: start, now: startMs + 999, expected: "00:00" },
            { tag: "59 s", since: start, now: startMs + 59000, expected: "00:59" },
            { tag: "3599 s", since: start, now: startMs + 3599000, expected: "59:59" },
            { tag: "3600 s", since: start, now: startMs + 3600000, expected: "1:00:00" },
            { tag: "90061 s", since: start, now: startMs + 90061000, expected: "25:01:01" },
            { tag: "100 h, no days", since: start, now: startMs + 100 * 3600000, expected: "100:00:00" },
            { tag: "offset", since: "2024-03-01T12:00:00+02:00", now: startMs + 61000, expected: "01:01" },
            { tag: "fraction", since: "2024-03-01T10:00:00.500Z", now: startMs + 2000, expected: "00:01" },
            { tag: "nanoseconds", since: "2024-03-01T10:00:00.123456789Z", now: startMs + 60123, expected: "01:00" },
        ];
    }
    function test_duration(data) {
        compare(Fmt.duration(data.since, data.now), data.expected);
    }
}
