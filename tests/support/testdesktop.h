#pragma once

#include <QProcess>
#include <QString>

#include <memory>

// The one place that starts a desktop for the tests: a private X server
// (Xvfb, 1280 x 800, on a display number it picks itself with -displayfd, so
// parallel tests never race for one) and, when asked, a real XEmbed system
// tray on it (trayer along the bottom edge, like a taskbar). Both are killed
// by the kernel if the process that started them dies first, and by the
// destructor otherwise, the tray before the server.
// Used by the end-to-end harness and by kestrix_with_desktop, the wrapper
// CTest runs the other display tests under.
class TestDesktop
{
public:
    enum class Result
    {
        Started,
        Missing, // a program it needs is not installed: the caller skips
        Failed,
    };

    TestDesktop() = default;
    ~TestDesktop();
    TestDesktop(const TestDesktop &) = delete;
    TestDesktop &operator=(const TestDesktop &) = delete;

    // Where the servers' error output is kept (<folder>/Xvfb.err,
    // trayer.err); by default it is dropped.
    void setLogFolder(const QString &folder) { m_logFolder = folder; }

    // A fresh X server, and a tray on it when withTray. On anything but
    // Started, *error says why.
    Result start(bool withTray, QString *error);
    // A tray on the display given (":N"), or on this desktop's own when
    // empty; returns once the tray's window is there.
    Result startTray(QString *error, const QString &display = {});
    void stopTray();

    // ":N", once started.
    QString display() const { return m_display; }

    // The first program of those the desktop needs that is not installed,
    // or "".
    static QString missingProgram(bool withTray);
    static QString notInstalled(const QString &program);

private:
    bool startServer(QString *error);
    std::unique_ptr<QProcess> spawn(const QString &program, const QStringList &args,
                                    const QProcessEnvironment &env, bool readOutput = false);
    QString logTail(const QString &program) const;

    QString m_logFolder;
    QString m_display;
    std::unique_ptr<QProcess> m_server;
    std::unique_ptr<QProcess> m_tray;
};
