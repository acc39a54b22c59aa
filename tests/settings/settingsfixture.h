#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

// Helpers for tests that run against the real per-user settings store and
// autostart folder, both inside a temporary folder.
namespace SettingsFixture {

// Points HOME and XDG_CONFIG_HOME into `root` and fixes the locale to C, before
// anything reads them: the store's location and the system locale are taken
// once per process.
inline void isolate(const QTemporaryDir &root)
{
    qputenv("HOME", root.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", QByteArray(root.path().toUtf8() + "/config"));
    qputenv("LC_ALL", "C");
    qputenv("LANG", "C");
    qunsetenv("LC_MESSAGES");
    qunsetenv("LANGUAGE");
}

inline QString configHome()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME");
}

inline QString storePath()
{
    return configHome() + QStringLiteral("/Kest/Kestrix.conf");
}

inline QString autostartEntryPath()
{
    return configHome() + QStringLiteral("/autostart/kestrix.desktop");
}

// The raw text stored on disk for "group/name", or a null string when the file
// or the key is missing. Read from the file itself, not through QSettings,
// whose in-process cache would also show changes that never reached the disk.
inline QString storedOnDisk(const QString &key)
{
    QFile file(storePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QString group = QLatin1Char('[') + key.section(QLatin1Char('/'), 0, 0) + QLatin1Char(']');
    const QString name = key.section(QLatin1Char('/'), 1);
    bool inGroup = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == group;
        } else if (inGroup && line.section(QLatin1Char('='), 0, 0) == name) {
            return line.section(QLatin1Char('='), 1);
        }
    }
    return {};
}

// Empties the store. The settings API keeps a process-wide cache of the file;
// opening it once after the removal makes that cache forget the old contents.
inline void resetStore()
{
    QFile::remove(storePath());
    QSettings(QStringLiteral("Kest"), QStringLiteral("Kestrix")).sync();
    QFile::remove(autostartEntryPath());
}

// Stores `values` ("ui/..." keys) through the real store, as an earlier run would.
inline void seedStore(const QVariantMap &values)
{
    QSettings store(QStringLiteral("Kest"), QStringLiteral("Kestrix"));
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        store.setValue(it.key(), it.value());
    store.sync();
}

inline bool writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the test class with its store and autostart folder in a temporary folder.
template <typename TestClass> int runIsolated(int argc, char *argv[])
{
    QTemporaryDir root;
    if (!root.isValid())
        return 2;
    isolate(root);
    QCoreApplication app(argc, argv);
    TestClass test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace SettingsFixture

// A test main whose store and autostart folder live in a temporary folder.
#define KESTRIX_SETTINGS_TEST_MAIN(TestClass)                                                      \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        return SettingsFixture::runIsolated<TestClass>(argc, argv);                                \
    }
