#include "e2esession.h"
#include "testmain.h"

#include <QtTest>

// The application as a screen reader on the Linux desktop sees it: over the
// session's own bus, with the accessibility bus and its registry, the
// sign-in button is found by its role and name and pressed through its
// action, no pointer involved.
class TestE2eAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_session.reset(); }
    void screenReaderSignsIn();

private:
    std::unique_ptr<E2eSession> m_session;
};

void TestE2eAccessibility::init()
{
    E2E_START_DESKTOP(m_session);
    E2E_REQUIRE_CONTROLS(m_session);
}

void TestE2eAccessibility::screenReaderSignsIn()
{
    E2eSession &s = *m_session;
    QVERIFY(s.startDaemon());
    s.startApp();
    QTRY_VERIFY_WITH_TIMEOUT(s.showsLoginScreen(), 20000);

    QVERIFY2(s.pressControl(QStringLiteral("push button"), QStringLiteral("Sign in"),
                            QStringLiteral("Press")),
             s.failure());
    QTRY_VERIFY_WITH_TIMEOUT(s.daemonReceived(R"({"cmd":"login_start"})"), 10000);
    // The sign-in goes on as after a click: the page is handed to the browser.
    QTRY_VERIFY_WITH_TIMEOUT(!s.openedUrls().isEmpty(), 10000);
}

KESTRIX_TEST_MAIN(TestE2eAccessibility)
#include "tst_e2e_accessibility.moc"
