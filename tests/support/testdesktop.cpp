#include "testdesktop.h"

#include "helperprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

// Either is up in well under a second; one that is not after this long on a
// loaded two-core machine has hung, and a fresh attempt does better.
constexpr int kStartTimeoutMs = 10000;

void stop(std::unique_ptr<QProcess> &process)
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    process.reset();
}

} // namespace

TestDesktop::~TestDesktop()
{
    stopTray();
    stop(m_server);
}

QString TestDesktop::notInstalled(const QString &program)
{
    return QStringLiteral("%1 is not installed (tools/install-deps installs it)").arg(program);
}

QString TestDesktop::missingProgram(bool withTray)
{
    QStringList needed{QStringLiteral("Xvfb")};
    if (withTray) // xdotool tells when the tray is up
        needed << QStringLiteral("trayer") << QStringLiteral("xdotool");
    for (const QString &program : std::as_const(needed)) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            return program;
    }
    return {};
}

std::unique_ptr<QProcess> TestDesktop::spawn(const QString &program, const QStringList &args,
                                             const QProcessEnvironment &env, bool readOutput)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    if (!readOutput)
        process->setStandardOutputFile(QProcess::nullDevice());
    if (m_logFolder.isEmpty())
        process->setStandardErrorFile(QProcess::nullDevice());
    else
        process->setStandardErrorFile(QDir(m_logFolder).filePath(program + QStringLiteral(".err")),
                                      QIODevice::Append);
    dieWithTest(*process);
    process->start(program, args);
    process->waitForStarted(kStartTimeoutMs);
    return process;
}

QString TestDesktop::logTail(const QString &program) const
{
    QFile log(QDir(m_logFolder).filePath(program + QStringLiteral(".err")));
    if (m_logFolder.isEmpty() || !log.open(QIODevice::ReadOnly))
        return {};
    return QStringLiteral(": ") + QString::fromLocal8Bit(log.readAll().right(500)).trimmed();
}

TestDesktop::Result TestDesktop::start(bool withTray, QString *error)
{
    if (const QString missing = missingProgram(withTray); !missing.isEmpty()) {
        *error = notInstalled(missing);
        return Result::Missing;
    }
    // A display number can be held by a stale lock of a dead server; a fresh
    // server on another number gets past it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startServer(error) && (!withTray || startTray(error) == Result::Started))
            return Result::Started;
        qInfo("desktop, attempt %d of 3: %s", attempt + 1, qPrintable(*error));
        stopTray();
        stop(m_server);
        m_display.clear();
    }
    return Result::Failed;
}

bool TestDesktop::startServer(QString *error)
{
    // Xvfb writes the display number it picked to stdout.
    m_server = spawn(QStringLiteral("Xvfb"),
                     {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("1280x800x24"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                     QProcessEnvironment::systemEnvironment(), true);
    QByteArray number;
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!number.contains('\n') && m_server->state() == QProcess::Running &&
           !deadline.hasExpired()) {
        m_server->waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 1000)));
        number += m_server->readAllStandardOutput();
    }
    if (!number.contains('\n')) {
        *error = QStringLiteral("Xvfb did not start (%1)")
                     .arg(m_server->state() == QProcess::Running
                              ? QStringLiteral("no display number in time")
                              : QStringLiteral("it ended")) +
                 logTail(QStringLiteral("Xvfb"));
        return false;
    }
    m_display = u':' + QString::fromLatin1(number.trimmed());
    return true;
}

TestDesktop::Result TestDesktop::startTray(QString *error, const QString &display)
{
    if (const QString missing = missingProgram(true); !missing.isEmpty()) {
        *error = notInstalled(missing);
        return Result::Missing;
    }
    const QString on = display.isEmpty() ? m_display : display;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), on);

    stopTray();
    m_tray = spawn(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
                    QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                    QStringLiteral("--width"), QStringLiteral("200"), QStringLiteral("--height"),
                    QStringLiteral("32")},
                   env);

    const auto trayWindowExists = [&] {
        QProcess search;
        search.setProcessEnvironment(env);
        search.start(
            QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--classname"), QStringLiteral("trayer")});
        return search.waitForFinished(10000) && search.exitStatus() == QProcess::NormalExit &&
               search.exitCode() == 0;
    };
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (m_tray->state() == QProcess::Running && !deadline.hasExpired()) {
        if (trayWindowExists())
            return Result::Started;
        m_tray->waitForFinished(50); // a pause that also notices its end
    }
    *error =
        QStringLiteral("trayer did not start on %1 (%2)")
            .arg(on, m_tray->state() == QProcess::Running ? QStringLiteral("no tray window in time")
                                                          : QStringLiteral("it ended")) +
        logTail(QStringLiteral("trayer"));
    stopTray();
    return Result::Failed;
}

void TestDesktop::stopTray()
{
    stop(m_tray);
}
