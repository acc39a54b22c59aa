#include "e2esession.h"
#include "settings/palette.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QtTest>

#include "testmain.h"

// The daemon's socket is not there when the app starts: after the quick
// round the login screen says so and offers "Retry now"; the app keeps
// trying on the slow schedule; and the button reaches a daemon at once.
class TestE2eUnreachable : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { m_session.reset(); }
    void lateSocketAndRetryNow();

private:
    bool showsRetryNow() const;
    std::unique_ptr<E2eSession> m_session;
};

namespace {

constexpr QPoint kRetryNowFill{70, 497};             // inside the button, left of its text
constexpr QRect kUnreachableLine{40, 250, 320, 200}; // around the line, window coordinates

QColor dark(Palette::Role role)
{
    return Palette::color(role, true);
}

} // namespace

bool TestE2eUnreachable::showsRetryNow() const
{
    const E2eSession::Window main = m_session->mainWindow();
    if (!main.id)
        return false;
    const QImage shot = m_session->screenshot();
    return E2eSession::near(shot.pixelColor(main.rect.topLeft() + kRetryNowFill),
                            dark(Palette::Role::SurfaceAlt), 2) &&
           E2eSession::countNear(shot, kUnreachableLine.translated(main.rect.topLeft()),
                                 dark(Palette::Role::Warning)) > 20;
}

void TestE2eUnreachable::lateSocketAndRetryNow()
{
    E2E_START_DESKTOP(m_session);
    E2E_REQUIRE_CONTROLS(m_session);
    E2eSession &s = *m_session;
    // The daemon runs, but its socket is parked where the app does not look.
    QVERIFY(s.startDaemon({"--auto-login", E2eSession::kAutoLoginSecs}));
    const QString socket = s.root() + QStringLiteral("/daemon.sock");
    const QString parked = s.root() + QStringLiteral("/parked.sock");
    QVERIFY(QFile::rename(socket, parked));

    s.startApp(); // a copy alone in its folder: it starts no daemon of its own
    QTRY_VERIFY_WITH_TIMEOUT(s.showsLoginScreen(), 20000);
    // The quick round takes about five seconds; then the line and the button.
    QTRY_VERIFY_WITH_TIMEOUT(showsRetryNow(), 30000);

    // A socket that appears now is still tried, on the slow schedule. This
    // one takes each attempt and closes it, which is no reason to hurry.
    QLocalServer stand;
    QList<qint64> attempts;
    QElapsedTimer clock;
    clock.start();
    connect(&stand, &QLocalServer::newConnection, this, [&] {
        while (QLocalSocket *peer = stand.nextPendingConnection()) {
            attempts << clock.elapsed();
            peer->abort();
            peer->deleteLater();
        }
    });
    QVERIFY(stand.listen(socket));
    QTRY_VERIFY_WITH_TIMEOUT(attempts.size() >= 2, 30000);
    // The slow schedule doubles its wait: the next attempt is at least
    // four seconds after the second one.
    const qint64 second = attempts.at(1);
    QVERIFY(attempts.at(1) - attempts.at(0) >= 1900);
    stand.close();

    // The daemon is back; "Retry now" reaches it long before the schedule would.
    QVERIFY(QFile::rename(parked, socket));
    QVERIFY2(s.clickControl(QStringLiteral("push button"), QStringLiteral("Retry now")),
             s.failure());
    QTRY_VERIFY_WITH_TIMEOUT(s.daemonReceived("{\"cmd\":\"status\"}"), 10000);
    const qint64 reached = clock.elapsed();
    QVERIFY2(reached - second < 3500, qPrintable(QString::number(reached - second)));
    QCOMPARE(attempts.size(), 2);

    // Answered: the login screen is as usual, without the line.
    QTRY_VERIFY_WITH_TIMEOUT(!showsRetryNow(), 10000);
    QVERIFY(s.showsLoginScreen());
    QVERIFY2(s.signIn(), s.failure());
}

KESTRIX_TEST_MAIN(TestE2eUnreachable)
#include "tst_e2e_unreachable.moc"
