#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "testmain.h"

// The main of a test that loads the interface: a private configuration, token,
// home and runtime folder, set before anything reads them, and the
// application's names. A warning or critical message that the test did not
// expect (QTest::ignoreMessage) fails the run: QML reports its faults that way.
#define KESTRIX_UI_TEST_MAIN(TestClass)                                                            \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QTemporaryDir isolation;                                                                   \
        qputenv("XDG_CONFIG_HOME", (isolation.path() + QStringLiteral("/config")).toUtf8());       \
        qputenv("PROGRAMDATA", (isolation.path() + QStringLiteral("/programdata")).toUtf8());      \
        qputenv("HOME", (isolation.path() + QStringLiteral("/home")).toUtf8());                    \
        qunsetenv("XDG_DESKTOP_DIR");                                                              \
        const QString runtime = isolation.path() + QStringLiteral("/runtime");                     \
        QDir().mkpath(runtime);                                                                    \
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);    \
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());                                              \
        QApplication app(argc, argv);                                                              \
        QApplication::setApplicationName(QStringLiteral("Kestrix"));                               \
        QApplication::setOrganizationName(QStringLiteral("Kest"));                                 \
        QApplication::setQuitOnLastWindowClosed(false);                                            \
        TestClass test;                                                                            \
        return KestrixTest::exec(&test, argc, argv, KestrixTest::Warnings::Strict);                \
    }
