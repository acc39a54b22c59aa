#pragma once

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

// A test main whose process has a private home, so the desktop and home
// folders that diagnostics copies go to are the test's own, and no token
// file of the machine is read.
#define KESTRIX_PRIVATE_HOME_MAIN(TestObject)                                                      \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        QTemporaryDir home;                                                                        \
        qputenv("HOME", home.path().toUtf8());                                                     \
        qunsetenv("XDG_CONFIG_HOME");                                                              \
        qunsetenv("PROGRAMDATA");                                                                  \
        QCoreApplication app(argc, argv);                                                          \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
