#pragma once

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryFile>
#include <QTextStream>
#include <QtTest>

#include <functional>

// The end of every test binary that uses these mains, beyond QTest::qExec:
//  - a run in which every test function was skipped exits with kSkipExitCode,
//    so CTest (SKIP_RETURN_CODE) reports it as skipped rather than passed;
//  - with StrictWarnings, a warning or critical message that no test expected
//    (QTest::ignoreMessage) fails the run, naming the test function that
//    logged it: a TypeError in a click handler, an undefined string-table
//    text or a binding loop is a fault, not noise.
// Both are read back from a TAP log that Qt Test writes besides its usual
// output. A run with output options of its own (-o, -xml...) is left alone.
namespace KestrixTest {

inline constexpr int kSkipExitCode = 77;

enum class Warnings
{
    Tolerated,
    Strict
};

struct TapSummary
{
    int ran = 0;                    // test functions (and rows) that ran to an end
    int skipped = 0;                // and those that were skipped
    QStringList unexpectedMessages; // "function: severity: text"
};

// What the test platforms themselves say about their limits, whatever the
// code under test does: the offscreen platform cannot raise a window, and the
// tray icon asks every platform for an X11-only signal.
inline bool isPlatformNoise(const QString &message)
{
    static const QStringList noise{
        QStringLiteral("This plugin does not support raise()"),
        QStringLiteral(
            "No such signal QPlatformNativeInterface::systemTrayWindowChanged(QScreen*)"),
    };
    for (const QString &text : noise) {
        if (message.contains(text))
            return true;
    }
    return false;
}

inline TapSummary readTap(const QString &path)
{
    static const QRegularExpression result(
        QStringLiteral(R"(^(not )?ok \d+ - (.*?)( # SKIP.*)?$)"));
    static const QRegularExpression severity(QStringLiteral(R"(^\s+- severity: (\w+))"));
    static const QRegularExpression message(QStringLiteral(R"(^\s+message: (.*)$)"));
    static const QRegularExpression frameFunction(
        QStringLiteral(R"(^(\w+::)?(initTestCase|cleanupTestCase)\()"));
    TapSummary summary;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return summary;
    QTextStream in(&file);
    QString function;
    QString pendingSeverity;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (const QRegularExpressionMatch m = result.match(line); m.hasMatch()) {
            function = m.captured(2);
            pendingSeverity.clear();
            // Qt Quick Test names each TestCase: "Name::initTestCase()".
            const bool frame = frameFunction.match(function).hasMatch();
            if (m.capturedLength(3) > 0)
                ++summary.skipped;
            else if (!frame)
                ++summary.ran;
        } else if (const QRegularExpressionMatch m = severity.match(line); m.hasMatch()) {
            pendingSeverity = m.captured(1);
        } else if (const QRegularExpressionMatch m = message.match(line);
                   m.hasMatch() && !pendingSeverity.isEmpty()) {
            if ((pendingSeverity == QLatin1String("warning") ||
                 pendingSeverity == QLatin1String("critical")) &&
                !isPlatformNoise(m.captured(1)))
                summary.unexpectedMessages << function + QStringLiteral(": ") + pendingSeverity +
                                                  QStringLiteral(": ") + m.captured(1);
            pendingSeverity.clear();
        }
    }
    return summary;
}

inline bool choosesOwnOutput(const QStringList &args)
{
    for (const QString &arg : args.mid(1)) {
        for (const char *option : {"-o", "-txt", "-xml", "-lightxml", "-junitxml", "-xunitxml",
                                   "-csv", "-teamcity", "-tap", "-functions", "-datatags"}) {
            if (arg == QLatin1String(option))
                return true;
        }
    }
    return false;
}

// Runs a test with the arguments given (Qt Test's own, as argv would hold
// them) and reads its TAP log back as above. `run` is QTest::qExec or any
// other runner that takes Qt Test's options, such as Qt Quick Test's.
inline int execWith(QStringList args, Warnings warnings,
                    const std::function<int(const QStringList &)> &run)
{
    if (choosesOwnOutput(args))
        return run(args);

    QTemporaryFile tap;
    if (!tap.open())
        return run(args);
    tap.close();
    args << QStringLiteral("-o") << QStringLiteral("-,txt") << QStringLiteral("-o")
         << tap.fileName() + QStringLiteral(",tap");
    const int result = run(args);
    const TapSummary summary = readTap(tap.fileName());

    if (warnings == Warnings::Strict && !summary.unexpectedMessages.isEmpty()) {
        QTextStream err(stderr);
        for (const QString &text : summary.unexpectedMessages)
            err << "FAIL!  : unexpected message in " << text << '\n';
        return result != 0 ? result : 1;
    }
    if (result == 0 && summary.ran == 0 && summary.skipped > 0)
        return kSkipExitCode;
    return result;
}

inline QStringList arguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

inline int exec(QObject *test, int argc, char **argv, Warnings warnings = Warnings::Tolerated)
{
    return execWith(arguments(argc, argv), warnings,
                    [test](const QStringList &args) { return QTest::qExec(test, args); });
}

} // namespace KestrixTest

// QTEST_MAIN and QTEST_GUILESS_MAIN with the exit code above.
#define KESTRIX_TEST_MAIN(TestClass)                                                               \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return KestrixTest::exec(&test, argc, argv);                                               \
    }

#define KESTRIX_TEST_GUILESS_MAIN(TestClass)                                                       \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QCoreApplication app(argc, argv);                                                          \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return KestrixTest::exec(&test, argc, argv);                                               \
    }
