#pragma once

#include <QString>
#include <QStringList>

// What the development daemon was asked to do, from its command line.
struct DaemonOptions
{
    QString socketName;            // endpoint to serve
    QString logPath;               // every received line, one per line
    QString scriptPath;            // timed events to play
    QString statePath;             // sign-in and kill switch kept across restarts
    int autoLoginMs = -1;          // approve a sign-in by itself after this long
    int dropEveryMs = 0;           // drop a live tunnel this often
    QString failConnectText;       // connects end in "failed" with this error
    int failCount = 0;             // only the first N connects fail; 0 means all
    QString offerUpdateVersion;    // offered to every client after "ready"
    int connectDelayMs = 1200;     // time from "connecting" to the outcome
    int maxClients = 16;           // connections served at once; more are turned away
    int handshakeTimeoutMs = 5000; // a client silent this long after connecting is dropped
};

// Parses the arguments (the program name first). On a usage error returns
// false with the message in *error; for --help, *helpText is filled.
bool parseDaemonOptions(const QStringList &arguments, DaemonOptions *options, QString *error,
                        QString *helpText);
