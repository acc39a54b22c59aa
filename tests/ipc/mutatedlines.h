#pragma once

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

// Lines near the protocol's: the seeds with a few bytes inserted, removed or
// replaced, from tokens that sit on the edges of what a line reader and a
// JSON parser accept (escapes, invalid and non-ASCII UTF-8, Unicode spaces,
// numbers of every form, repeated keys).
inline QList<QByteArray> mutatedLines(const QList<QByteArray> &seeds, int count, quint32 seed)
{
    static const QList<QByteArray> tokens = {"\"",
                                             "\\",
                                             "\\u0041",
                                             "\\\"",
                                             "{",
                                             "}",
                                             "[1]",
                                             ",",
                                             ":",
                                             " ",
                                             "\t",
                                             "\r",
                                             "\v",
                                             "\xC2\xA0",
                                             "\xE2\x80\x83",
                                             "\xEF\xBB\xBF",
                                             "\xFF",
                                             "\xC3",
                                             "\xE2\x82\xAC",
                                             "\xC3\xA9",
                                             "\x01",
                                             "\x7F",
                                             "0",
                                             "7",
                                             "-",
                                             ".",
                                             "e",
                                             "E+",
                                             "01",
                                             "1e3",
                                             "2.5",
                                             "-0",
                                             "99999999999999999999",
                                             "999999999999999999",
                                             "9007199254740993",
                                             "true",
                                             "false",
                                             "null",
                                             "\"type\":\"status\",",
                                             "\"type\":\"pong\",",
                                             "\"up\":1,",
                                             "\"ip\":\"x\",",
                                             "\"authenticated\":null,",
                                             "\"kill_switch_mode\":7,",
                                             "\"extra\":{\"a\":[1]},"};
    QRandomGenerator random(seed);
    QList<QByteArray> lines;
    for (int i = 0; i < count; ++i) {
        QByteArray line = seeds.at(random.bounded(int(seeds.size())));
        const int edits = random.bounded(1, 4);
        for (int e = 0; e < edits; ++e) {
            const int pos = random.bounded(int(line.size()) + 1);
            const QByteArray &token = tokens.at(random.bounded(int(tokens.size())));
            switch (random.bounded(3)) {
            case 0:
                line.insert(pos, token);
                break;
            case 1:
                line.remove(pos, random.bounded(1, 5));
                break;
            default:
                line.replace(pos, random.bounded(1, 3), token);
                break;
            }
        }
        lines << line;
    }
    return lines;
}
