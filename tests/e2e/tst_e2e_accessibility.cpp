#include "e2esession.h"
#include "helperprocess.h"
#include "testmain.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QtTest>

// The application as a screen reader on the Linux desktop sees it: over a
// private session bus with the accessibility bus and its registry, a script
// finds the sign-in button by its role and name and presses it.
class TestE2eAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void screenReaderSignsIn();

private:
    bool startSessionBus(QString *address);

    std::unique_ptr<E2eSession> m_session;
    QList<QProcess *> m_buses; // newest last
};

namespace {

const QString kBusLauncher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
// Debian's python, where python3-pyatspi installs: not whatever is first on PATH.
const QString kPython = QStringLiteral("/usr/bin/python3");

// What the check needs beyond the end-to-end desktop, or "" when all is there.
QString missingTool()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        return QStringLiteral("dbus-daemon");
    if (!QFileInfo(kBusLauncher).isExecutable())
        return kBusLauncher;
    if (QProcess::execute(kPython, {QStringLiteral("-c"), QStringLiteral("import pyatspi")}) != 0)
        return QStringLiteral("pyatspi for ") + kPython;
    return {};
}

} // namespace

void TestE2eAccessibility::init()
{
    E2E_START_DESKTOP(m_session);
}

void TestE2eAccessibility::cleanup()
{
    m_session.reset();
    while (!m_buses.isEmpty()) {
        std::unique_ptr<QProcess> bus(m_buses.takeLast());
        bus->terminate();
        if (!bus->waitForFinished(5000))
            bus->kill();
        bus->waitForFinished(5000);
    }
}

// A session bus of the test's own, and the accessibility bus launcher on it.
bool TestE2eAccessibility::startSessionBus(QString *address)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_session->display());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_session->root() + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("HOME"), m_session->root() + QStringLiteral("/home"));

    auto *bus = new QProcess;
    m_buses << bus;
    bus->setProcessEnvironment(env);
    dieWithTest(*bus);
    bus->start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")});
    if (!QTest::qWaitFor([&] { return bus->canReadLine(); }, 10000))
        return false;
    *address = QString::fromUtf8(bus->readLine().trimmed());

    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), *address);
    auto *launcher = new QProcess;
    m_buses << launcher;
    launcher->setProcessEnvironment(env);
    dieWithTest(*launcher);
    launcher->start(kBusLauncher, {QStringLiteral("--launch-immediately")});
    return launcher->waitForStarted(10000);
}

void TestE2eAccessibility::screenReaderSignsIn()
{
    E2eSession &s = *m_session;
    QString address;
    QVERIFY(startSessionBus(&address));
    s.setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    // Qt serves the accessibility bus only to a screen reader it was told of.
    s.setEnvironment(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    QVERIFY(s.startDaemon());
    s.startApp();
    QTRY_VERIFY_WITH_TIMEOUT(s.showsLoginScreen(), 20000);

    QProcess reader;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), s.display());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    reader.setProcessEnvironment(env);
    reader.setProcessChannelMode(QProcess::MergedChannels);
    dieWithTest(reader);
    reader.start(kPython,
                 {QStringLiteral("-I"), QStringLiteral(KESTRIX_ATSPI_SCRIPT),
                  QStringLiteral("kestrix"), QStringLiteral("push button"),
                  QStringLiteral("Sign in"), QStringLiteral("Press"), QStringLiteral("30")});
    QVERIFY(reader.waitForFinished(60000));
    QVERIFY2(reader.exitCode() == 0, reader.readAll().constData());

    QTRY_VERIFY_WITH_TIMEOUT(s.daemonReceived(R"({"cmd":"login_start"})"), 10000);
    // The sign-in goes on as after a click: the page is handed to the browser.
    QTRY_VERIFY_WITH_TIMEOUT(!s.openedUrls().isEmpty(), 10000);
}

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QString missing = missingTool();
    if (!missing.isEmpty()) {
        qWarning("SKIP: %s is not installed", qPrintable(missing));
        return KestrixTest::kSkipExitCode;
    }
    TestE2eAccessibility test;
    return KestrixTest::exec(&test, argc, argv);
}

#include "tst_e2e_accessibility.moc"
