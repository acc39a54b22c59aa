#include "tray/trayicon.h"
#include "tray/traymanager.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

#include "testdesktop.h"
#include "testmain.h"

#include <algorithm>
#include <climits>
#include <cmath>

class TestTrayManager : public QObject
{
    Q_OBJECT

private slots:
    void constructedShowsGreyDisconnectedIcon();
    void iconShownLaterCarriesWhatCameBefore_data();
    void iconShownLaterCarriesWhatCameBefore();
    void dotColour_data();
    void dotColour();
    void baseImageFillsTheRest();
    void toolTip_data();
    void toolTip();
    void versionChangedOnlyOnRealChange();
    void redrawOnlyOnRealChange();
    void noteChangesToolTipOnly();
    void trayAvailabilityFollowsProbe();
    void trayComingAndGoingIsNoticed();
    void activation_data();
    void activation();
    void contextWithoutGeometryAnchorsAtCursor();
    void popupAnchor_data();
    void popupAnchor();
    void realTrayAnchorsAtIcon();
    void realTrayShowsBalloon();
};

namespace {

// The checks against a real system tray run when one is there (the
// tst_traymanager_xembed run starts one under Xvfb) and are skipped otherwise.
bool trayExpected()
{
    return qEnvironmentVariableIsSet("KESTRIX_EXPECT_TRAY");
}

bool waitForEmbeddedIcon(const TrayManager &tray)
{
    return QTest::qWaitFor([&] { return tray.trayIcon()->geometry().isValid(); }, 10000);
}

QImage iconImage(const TrayManager &tray)
{
    return tray.trayIcon()->icon().pixmap(QSize(TrayIcon::kSize, TrayIcon::kSize)).toImage();
}

// Where a pixel lies against the dot, a circle 11 px across centred on
// (24.5, 24.5), with a margin for the curve's approximation.
enum class Coverage
{
    None,
    Partial,
    Full
};
Coverage pixelInDot(int x, int y)
{
    const double cx = 24.5, cy = 24.5, r = 5.5, margin = 0.1;
    const double nearX = std::clamp(cx, double(x), x + 1.0) - cx;
    const double nearY = std::clamp(cy, double(y), y + 1.0) - cy;
    const double farX = std::max(std::abs(x - cx), std::abs(x + 1 - cx));
    const double farY = std::max(std::abs(y - cy), std::abs(y + 1 - cy));
    if (std::hypot(farX, farY) <= r - margin)
        return Coverage::Full;
    if (std::hypot(nearX, nearY) >= r + margin)
        return Coverage::None;
    return Coverage::Partial;
}

// The middle of the dot is fully covered, so it carries the exact colour.
QColor dotCentre(const TrayManager &tray)
{
    return iconImage(tray).pixelColor(24, 24);
}

} // namespace

void TestTrayManager::constructedShowsGreyDisconnectedIcon()
{
    TrayManager tray;
    QVERIFY(tray.trayIcon()->isVisible());
    QCOMPARE(tray.version(), QString());
    QCOMPARE(tray.vpnState(), QStringLiteral("disconnected"));
    QCOMPARE(tray.trayIcon()->toolTip(), QStringLiteral("Kestrix \u2014 disconnected"));
    QCOMPARE(iconImage(tray).size(), QSize(32, 32));
    QCOMPARE(dotCentre(tray), QColor(0x8A, 0x93, 0xA3));
    QVERIFY(tray.trayIcon()->contextMenu() == nullptr);
}

void TestTrayManager::iconShownLaterCarriesWhatCameBefore_data()
{
    QTest::addColumn<bool>("byBalloon");
    QTest::newRow("showIcon") << false;
    QTest::newRow("a balloon first") << true;
}

void TestTrayManager::iconShownLaterCarriesWhatCameBefore()
{
    QFETCH(bool, byBalloon);
    // As the application makes it while its window draws its first frame.
    TrayManager tray(TrayManager::IconTiming::OnShowIcon);
    QVERIFY(!tray.iconShown());
    QVERIFY(!tray.trayIcon()->isVisible());
    tray.setVersion(QStringLiteral("1.4.2"));
    tray.setVpnState(QStringLiteral("connected"));
    tray.setNote(QStringLiteral("note"));
    QVERIFY(tray.trayIcon()->icon().isNull()); // nothing drawn yet
    QCOMPARE(tray.trayIcon()->toolTip(), QString());

    if (byBalloon)
        tray.notify(QStringLiteral("Kestrix"), QStringLiteral("Protected")); // needs the icon
    else
        tray.showIcon();
    QVERIFY(tray.iconShown());
    QVERIFY(tray.trayIcon()->isVisible());
    QCOMPARE(dotCentre(tray), QColor(0x2F, 0xBF, 0x71));
    QCOMPARE(tray.trayIcon()->toolTip(),
             TrayIcon::toolTip(QStringLiteral("1.4.2"), QStringLiteral("connected"),
                               QStringLiteral("note")));

    // Once only: a second call draws nothing again.
    const qint64 drawn = tray.trayIcon()->icon().cacheKey();
    tray.showIcon();
    QCOMPARE(tray.trayIcon()->icon().cacheKey(), drawn);
}

void TestTrayManager::dotColour_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QColor>("colour");

    const QColor green(0x2F, 0xBF, 0x71), amber(0xF0, 0xA5, 0x00), red(0xE5, 0x48, 0x4D),
        grey(0x8A, 0x93, 0xA3);
    QTest::newRow("connected") << "connected" << green;
    QTest::newRow("connecting") << "connecting" << amber;
    QTest::newRow("reconnecting") << "reconnecting" << amber;
    QTest::newRow("failed") << "failed" << red;
    QTest::newRow("Connected, capital") << "Connected" << grey;
    QTest::newRow("empty") << "" << grey;
    QTest::newRow("unknown word") << "paused" << grey;
    QTest::newRow("trailing blank") << "connected " << grey;
}

void TestTrayManager::dotColour()
{
    QFETCH(QString, state);
    QFETCH(QColor, colour);

    TrayManager tray;
    tray.setVpnState(QStringLiteral("failed")); // start from a colour no row expects twice
    tray.setVpnState(state);
    const QImage icon = iconImage(tray);
    int inside = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (pixelInDot(x, y) != Coverage::Full)
                continue;
            ++inside;
            QVERIFY2(icon.pixelColor(x, y) == colour,
                     qPrintable(QStringLiteral("%1, %2").arg(x).arg(y)));
        }
    }
    QVERIFY(inside > 50);
    // Two pixels clear of the right and bottom borders.
    for (int i = 0; i < 32; ++i) {
        for (int edge : {30, 31}) {
            QVERIFY2(icon.pixelColor(edge, i) != colour, qPrintable(QString::number(i)));
            QVERIFY2(icon.pixelColor(i, edge) != colour, qPrintable(QString::number(i)));
        }
    }
}

void TestTrayManager::baseImageFillsTheRest()
{
    const QImage expected = QImage(QStringLiteral(":/icon-256.png"))
                                .scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QVERIFY(!expected.isNull());

    TrayManager tray;
    const QImage icon = iconImage(tray).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int opaque = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (pixelInDot(x, y) != Coverage::None)
                continue; // the dot and its antialiased rim
            QCOMPARE(icon.pixel(x, y), expected.pixel(x, y));
            opaque += qAlpha(icon.pixel(x, y)) == 255;
        }
    }
    QVERIFY2(opaque > 32 * 32 / 2, "the mark should cover most of the icon");
}

void TestTrayManager::toolTip_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("expected");

    QTest::newRow("version and connected")
        << "1.4.2"
        << "connected" << QStringLiteral("Kestrix v1.4.2 \u2014 connected");
    QTest::newRow("no version yet")
        << ""
        << "disconnected" << QStringLiteral("Kestrix \u2014 disconnected");
    QTest::newRow("empty state ends in dash and blank")
        << "1.0"
        << "" << QStringLiteral("Kestrix v1.0 \u2014 ");
    QTest::newRow("raw word, not translated")
        << "2.0"
        << "Connected" << QStringLiteral("Kestrix v2.0 \u2014 Connected");
    QTest::newRow("placeholders in the version stay literal")
        << "%1 %2"
        << "failed" << QStringLiteral("Kestrix v%1 %2 \u2014 failed");
}

void TestTrayManager::toolTip()
{
    QFETCH(QString, version);
    QFETCH(QString, state);
    QFETCH(QString, expected);

    TrayManager tray;
    tray.setVersion(version);
    tray.setVpnState(state);
    QCOMPARE(tray.trayIcon()->toolTip(), expected);
}

void TestTrayManager::versionChangedOnlyOnRealChange()
{
    TrayManager tray;
    QSignalSpy changed(&tray, &TrayManager::versionChanged);

    tray.setVersion(QStringLiteral("1.4.2"));
    tray.setVersion(QStringLiteral("1.4.2"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(tray.property("version").toString(), QStringLiteral("1.4.2"));

    tray.setVersion(QStringLiteral("1.4.3"));
    tray.setVersion(QString());
    QCOMPARE(changed.count(), 3);

    // The state has no signal of its own.
    tray.setVpnState(QStringLiteral("connected"));
    QCOMPARE(changed.count(), 3);

    // QML may read the version but not write it.
    const QMetaProperty property =
        tray.metaObject()->property(tray.metaObject()->indexOfProperty("version"));
    QVERIFY(property.isReadable());
    QVERIFY(!property.isWritable());
}

void TestTrayManager::redrawOnlyOnRealChange()
{
    TrayManager tray;
    tray.setVersion(QStringLiteral("1.4.2"));
    tray.setVpnState(QStringLiteral("connected"));
    const qint64 drawn = tray.trayIcon()->icon().cacheKey();

    tray.setVpnState(QStringLiteral("connected"));
    tray.setVersion(QStringLiteral("1.4.2"));
    QCOMPARE(tray.trayIcon()->icon().cacheKey(), drawn);

    tray.setVpnState(QStringLiteral("reconnecting"));
    QVERIFY(tray.trayIcon()->icon().cacheKey() != drawn);
}

void TestTrayManager::noteChangesToolTipOnly()
{
    TrayManager tray;
    tray.setVersion(QStringLiteral("1.4.2"));
    const qint64 drawn = tray.trayIcon()->icon().cacheKey();

    tray.setNote(QStringLiteral("Out of reach\nNext attempt at 14:05:31"));
    QCOMPARE(tray.trayIcon()->toolTip(),
             QStringLiteral(
                 "Kestrix v1.4.2 \u2014 disconnected\nOut of reach\nNext attempt at 14:05:31"));
    // A later state keeps the note under it.
    tray.setVpnState(QStringLiteral("failed"));
    QVERIFY(
        tray.trayIcon()->toolTip().startsWith(QStringLiteral("Kestrix v1.4.2 \u2014 failed\n")));
    const qint64 failed = tray.trayIcon()->icon().cacheKey();
    QVERIFY(failed != drawn);

    tray.setNote(QString());
    QCOMPARE(tray.trayIcon()->toolTip(), QStringLiteral("Kestrix v1.4.2 \u2014 failed"));
    QCOMPARE(tray.trayIcon()->icon().cacheKey(), failed); // the icon is not drawn again
}

void TestTrayManager::trayAvailabilityFollowsProbe()
{
    TrayManager tray;
    QSignalSpy changed(&tray, &TrayManager::trayAvailableChanged);
    bool there = !tray.trayAvailable();
    tray.setTrayProbe([&there] { return there; });
    QCOMPARE(tray.trayAvailable(), there);
    QCOMPARE(changed.count(), 1);

    tray.refreshTrayAvailable(); // the same answer: no signal
    QCOMPARE(changed.count(), 1);
    there = !there;
    tray.refreshTrayAvailable();
    QCOMPARE(tray.trayAvailable(), there);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(tray.property("trayAvailable").toBool(), there);
}

void TestTrayManager::trayComingAndGoingIsNoticed()
{
    // On an X server without a tray: one that starts, and then ends, is
    // noticed without anyone asking.
    if (QGuiApplication::platformName() != QLatin1String("xcb") || trayExpected())
        QSKIP("needs an X server without a tray (the tst_traymanager_trayless run)");
    TrayManager tray;
    QVERIFY(!tray.trayAvailable());
    QSignalSpy changed(&tray, &TrayManager::trayAvailableChanged);
    TestDesktop desktop;
    QString error;
    const TestDesktop::Result started = desktop.startTray(&error, qEnvironmentVariable("DISPLAY"));
    if (started == TestDesktop::Result::Missing)
        QSKIP(qPrintable(error));
    QVERIFY2(started == TestDesktop::Result::Started, qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(tray.trayAvailable(), 20000);
    QCOMPARE(changed.count(), 1);

    desktop.stopTray();
    QTRY_VERIFY_WITH_TIMEOUT(!tray.trayAvailable(), 20000);
    QCOMPARE(changed.count(), 2);
}

void TestTrayManager::activation_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<int>("toggles");
    QTest::addColumn<int>("popups");

    QTest::newRow("Trigger") << QSystemTrayIcon::Trigger << 1 << 0;
    QTest::newRow("Context") << QSystemTrayIcon::Context << 0 << 1;
    QTest::newRow("DoubleClick") << QSystemTrayIcon::DoubleClick << 0 << 0;
    QTest::newRow("MiddleClick") << QSystemTrayIcon::MiddleClick << 0 << 0;
    QTest::newRow("Unknown") << QSystemTrayIcon::Unknown << 0 << 0;
}

void TestTrayManager::activation()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(int, toggles);
    QFETCH(int, popups);

    TrayManager tray;
    QSignalSpy toggle(&tray, &TrayManager::toggleWindowRequested);
    QSignalSpy popup(&tray, &TrayManager::popupRequested);
    QSignalSpy show(&tray, &TrayManager::showRequested);
    QSignalSpy quit(&tray, &TrayManager::quitRequested);
    QSignalSpy connectReq(&tray, &TrayManager::connectRequested);
    QSignalSpy disconnectReq(&tray, &TrayManager::disconnectRequested);

    emit tray.trayIcon()->activated(reason);

    QCOMPARE(toggle.count(), toggles);
    QCOMPARE(popup.count(), popups);
    QCOMPARE(show.count() + quit.count() + connectReq.count() + disconnectReq.count(), 0);
}

void TestTrayManager::contextWithoutGeometryAnchorsAtCursor()
{
    TrayManager tray;
    if (tray.trayIcon()->geometry().isValid())
        QSKIP("this platform reports where the tray icon is");

    QCursor::setPos(QPoint(77, 55));
    if (QCursor::pos() != QPoint(77, 55))
        QSKIP("this platform cannot place the cursor");

    QSignalSpy popup(&tray, &TrayManager::popupRequested);
    emit tray.trayIcon()->activated(QSystemTrayIcon::Context);
    QCOMPARE(popup.count(), 1);
    QCOMPARE(popup.at(0), (QVariantList{77, 55}));
}

void TestTrayManager::popupAnchor_data()
{
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QPoint>("expected");

    const QPoint cursor(500, 700);
    QTest::newRow("24 px icon at 100, 40") << QRect(100, 40, 24, 24) << QPoint(111, 40);
    QTest::newRow("odd width") << QRect(100, 40, 25, 24) << QPoint(112, 40);
    QTest::newRow("one pixel") << QRect(7, 9, 1, 1) << QPoint(7, 9);
    QTest::newRow("left of the primary screen truncates toward zero")
        << QRect(-30, 0, 20, 20) << QPoint(-20, 0);
    QTest::newRow("edges near the largest int")
        << QRect(QPoint(INT_MAX - 10, 5), QPoint(INT_MAX - 1, 20)) << QPoint(INT_MAX - 6, 5);
    QTest::newRow("no geometry: cursor") << QRect() << cursor;
    QTest::newRow("zero width: cursor") << QRect(100, 40, 0, 24) << cursor;
    QTest::newRow("zero height: cursor") << QRect(100, 40, 24, 0) << cursor;
}

void TestTrayManager::popupAnchor()
{
    QFETCH(QRect, geometry);
    QFETCH(QPoint, expected);
    QCOMPARE(TrayIcon::popupAnchor(geometry, QPoint(500, 700)), expected);
}

void TestTrayManager::realTrayAnchorsAtIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (trayExpected())
            QFAIL("the system tray did not come up");
        QSKIP("no system tray");
    }
    TrayManager tray;
    QVERIFY(waitForEmbeddedIcon(tray));
    const QRect icon = tray.trayIcon()->geometry();
    QCursor::setPos(icon.bottomRight() + QPoint(50, 50)); // the cursor must not be used

    QSignalSpy popup(&tray, &TrayManager::popupRequested);
    emit tray.trayIcon()->activated(QSystemTrayIcon::Context);
    QCOMPARE(popup.count(), 1);
    QCOMPARE(popup.at(0), (QVariantList{(icon.left() + icon.right()) / 2, icon.top()}));
}

void TestTrayManager::realTrayShowsBalloon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (trayExpected())
            QFAIL("the system tray did not come up");
        QSKIP("no system tray");
    }
    TrayManager tray;
    QVERIFY(waitForEmbeddedIcon(tray));

    tray.notify(QStringLiteral("Kestrix"), QStringLiteral("Connected"));
    QWidget *balloon = nullptr;
    QTRY_VERIFY([&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->inherits("QBalloonTip"))
                balloon = w;
        return balloon != nullptr;
    }());
    QStringList texts;
    bool hasIcon = false;
    for (const QLabel *label : balloon->findChildren<QLabel *>()) {
        texts << label->text();
        hasIcon = hasIcon || !label->pixmap().isNull();
    }
    QVERIFY2(texts.contains(QStringLiteral("Kestrix")), qPrintable(texts.join('|')));
    QVERIFY2(texts.contains(QStringLiteral("Connected")), qPrintable(texts.join('|')));
    QVERIFY(hasIcon);
    balloon->close();
}

KESTRIX_TEST_MAIN(TestTrayManager)
#include "tst_traymanager.moc"
