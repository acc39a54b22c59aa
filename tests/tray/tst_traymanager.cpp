#include "tray/trayhosts.h"
#include "tray/trayicon.h"
#include "tray/traymanager.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

#include "settings/stringtable.h"

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
    void trayOwnerWindowEndIsNoticed();
    void trayComingAndGoingIsNoticed();
    void activation_data();
    void activation();
    void contextWithoutGeometryAnchorsAtCursor();
    void popupAnchor_data();
    void popupAnchor();
    void realTrayAnchorsAtIcon();
    void realTrayShowsBalloon();
    void iconCarriesEverySize_data();
    void iconCarriesEverySize();
    void iconFollowsTheTray();
    void trayLookedForOnlyOnceWanted();
    void menu_data();
    void menu();
    void menuEntriesRequest_data();
    void menuEntriesRequest();
    void menuOnlyWhereTheHostShowsIt();
    void popupStaysOnTheScreenUnderTheAnchor();
};

namespace {

// The checks against a real system tray run when one is there (the
// tst_traymanager_xembed run starts one under Xvfb) and are skipped otherwise.
bool trayExpected()
{
    return qEnvironmentVariableIsSet("KESTRIX_EXPECT_TRAY");
}

// A tray manager on a desktop with an XEmbed tray, whatever the platform
// says: the icon exists from the start.
class HostedTray : public TrayManager
{
public:
    explicit HostedTray(IconTiming timing = IconTiming::AtOnce) : TrayManager(timing)
    {
        setTrayProbe([] { return true; });
    }
};

bool waitForEmbeddedIcon(const TrayManager &tray)
{
    return QTest::qWaitFor([&] { return tray.trayIcon() && tray.trayIcon()->geometry().isValid(); },
                           10000);
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
    HostedTray tray;
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
    HostedTray tray(TrayManager::IconTiming::OnShowIcon);
    QVERIFY(!tray.iconShown());
    QVERIFY(!tray.trayIcon()); // not made before it is wanted
    tray.setVersion(QStringLiteral("1.4.2"));
    tray.setVpnState(QStringLiteral("connected"));
    tray.setNote(QStringLiteral("note"));

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

    HostedTray tray;
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

    HostedTray tray;
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

    HostedTray tray;
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
    HostedTray tray;
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
    HostedTray tray;
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

namespace {

// A tray on the test's own X server; false (the test skipped or failed, as
// trayer is missing or did not start) if there is none.
bool startTrayOnThisDisplay(TestDesktop &desktop)
{
    QString error;
    switch (desktop.startTray(&error, qEnvironmentVariable("DISPLAY"))) {
    case TestDesktop::Result::Started:
        return true;
    case TestDesktop::Result::Missing:
        QTest::qSkip(qPrintable(error), __FILE__, __LINE__);
        return false;
    case TestDesktop::Result::Failed:
        break;
    }
    QTest::qFail(qPrintable(error), __FILE__, __LINE__);
    return false;
}

} // namespace

// The X11 tray's end is its window's end. Watched without any icon of Qt's,
// which would otherwise watch that window for us.
void TestTrayManager::trayOwnerWindowEndIsNoticed()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") || trayExpected())
        QSKIP("needs an X server without a tray (the tst_traymanager_trayless run)");
    TrayHosts hosts;
    hosts.start();
    QVERIFY(!hosts.xembed());
    TestDesktop desktop;
    if (!startTrayOnThisDisplay(desktop))
        return;
    QTRY_VERIFY_WITH_TIMEOUT(hosts.xembed(), 20000);

    QSignalSpy changed(&hosts, &TrayHosts::changed);
    desktop.stopTray();
    QTRY_VERIFY_WITH_TIMEOUT(!hosts.xembed(), 20000);
    QCOMPARE(changed.count(), 1);
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
    if (!startTrayOnThisDisplay(desktop))
        return;
    QTRY_VERIFY_WITH_TIMEOUT(tray.trayAvailable(), 20000);
    QCOMPARE(changed.count(), 1);
    // The icon is made for the tray that came, an XEmbed one: no menu.
    QVERIFY(tray.trayIcon());
    QCOMPARE(tray.iconHost(), TrayManager::Host::XEmbed);
    QVERIFY(!tray.trayIcon()->contextMenu());

    desktop.stopTray();
    QTRY_VERIFY_WITH_TIMEOUT(!tray.trayAvailable(), 20000);
    QCOMPARE(changed.count(), 2);
    QVERIFY(!tray.trayIcon());
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

    HostedTray tray;
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
    HostedTray tray;
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

void TestTrayManager::iconCarriesEverySize_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("connected") << "connected" << QColor(0x2F, 0xBF, 0x71);
    QTest::newRow("reconnecting") << "reconnecting" << QColor(0xF0, 0xA5, 0x00);
    QTest::newRow("disconnected") << "disconnected" << QColor(0x8A, 0x93, 0xA3);
}

// Each size is drawn at that size, dot included, so no panel scales a drawn
// dot: the dot's middle carries its exact colour and it keeps its place.
void TestTrayManager::iconCarriesEverySize()
{
    QFETCH(QString, state);
    QFETCH(QColor, colour);

    QCOMPARE(TrayIcon::dotRect(TrayIcon::kSize), QRectF(TrayIcon::kDotRect));
    const QList<QImage> bases = TrayIcon::scaledBases(TrayIcon::loadBaseImage());
    const QIcon icon = TrayIcon::composeIcon(bases, state);
    QList<QSize> expected;
    for (const int size : TrayIcon::kIconSizes)
        expected << QSize(size, size);
    QList<QSize> sizes = icon.availableSizes();
    std::sort(sizes.begin(), sizes.end(),
              [](const QSize &a, const QSize &b) { return a.width() < b.width(); });
    QCOMPARE(sizes, expected);

    for (qsizetype i = 0; i < bases.size(); ++i) {
        const int size = TrayIcon::kIconSizes.at(size_t(i));
        const QImage image = icon.pixmap(QSize(size, size))
                                 .toImage()
                                 .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QString at = QString::number(size);
        QCOMPARE(image.size(), QSize(size, size));
        const QRectF dot = TrayIcon::dotRect(size);
        QVERIFY2(image.pixelColor(dot.center().toPoint()) == colour, qPrintable(at));
        // Clear of the borders by a sixteenth of the size, as at 32 px.
        QVERIFY2(dot.right() <= size - size / 16.0 + 1e-9, qPrintable(at));
        QVERIFY2(image.pixelColor(size - 1, size - 1) != colour, qPrintable(at));
        // The rest is the mark drawn at this size, not a scaled 32 px icon.
        QVERIFY2(image.pixel(size / 4, size / 2) == bases.at(i).pixel(size / 4, size / 2),
                 qPrintable(at));
    }
}

// No icon while there is no tray; one, drawn with what is known by then, as
// soon as a tray comes; none again when it goes.
void TestTrayManager::iconFollowsTheTray()
{
    TrayManager tray(TrayManager::IconTiming::OnShowIcon);
    bool there = false;
    tray.setTrayProbe([&there] { return there; });
    QSignalSpy changed(&tray, &TrayManager::trayAvailableChanged);
    tray.showIcon();
    tray.setVpnState(QStringLiteral("connected"));
    tray.notify(QStringLiteral("Kestrix"), QStringLiteral("Protected")); // nowhere to go: dropped
    QVERIFY(!tray.trayIcon());
    QVERIFY(!tray.trayAvailable());

    there = true;
    tray.refreshTrayAvailable();
    QCOMPARE(changed.count(), 1);
    QVERIFY(tray.trayIcon());
    QVERIFY(tray.trayIcon()->isVisible());
    QCOMPARE(dotCentre(tray), QColor(0x2F, 0xBF, 0x71));

    there = false;
    tray.refreshTrayAvailable();
    QCOMPARE(changed.count(), 2);
    QVERIFY(!tray.trayIcon());
    tray.setVpnState(QStringLiteral("failed")); // no icon to draw on

    there = true;
    tray.refreshTrayAvailable();
    QVERIFY(tray.trayIcon());
    QCOMPARE(dotCentre(tray), QColor(0xE5, 0x48, 0x4D));
}

// A window being shown draws its first frame before anything is asked about
// the tray; the icon being wanted starts the looking.
void TestTrayManager::trayLookedForOnlyOnceWanted()
{
    TrayManager tray(TrayManager::IconTiming::OnShowIcon);
    QSignalSpy changed(&tray, &TrayManager::trayAvailableChanged);
    QTest::qWait(50);
    QVERIFY(!tray.trayKnown());
    QCOMPARE(changed.count(), 0);
    tray.showIcon();
    QTRY_VERIFY(tray.trayKnown());
    QVERIFY(changed.count() >= 1); // the first answer is told, tray or none
}

void TestTrayManager::menu_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("windowShown");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<bool>("actionEnabled");

    const QStringList idle{"Open Kestrix", "Connect", "", "Quit"};
    QTest::newRow("idle, window hidden") << "en"
                                         << "disconnected" << true << false << idle << true;
    QTest::newRow("window shown") << "en"
                                  << "disconnected" << true << true
                                  << QStringList{"Hide Kestrix", "Connect", "", "Quit"} << true;
    QTest::newRow("connected") << "en"
                               << "connected" << true << false
                               << QStringList{"Open Kestrix", "Disconnect", "", "Quit"} << true;
    QTest::newRow("connecting: nothing to do yet")
        << "en"
        << "connecting" << true << false << idle << false;
    QTest::newRow("reconnecting") << "en"
                                  << "reconnecting" << true << false << idle << false;
    QTest::newRow("failed: connect again") << "en"
                                           << "failed" << true << false << idle << true;
    QTest::newRow("signed out") << "en"
                                << "disconnected" << false << false << idle << false;
    QTest::newRow("signed out, connected")
        << "en"
        << "connected" << false << false << QStringList{"Open Kestrix", "Disconnect", "", "Quit"}
        << false;
    QTest::newRow("Russian") << "ru"
                             << "connected" << true << true
                             << QStringList{u8"Скрыть Kestrix", u8"Отключить", "", u8"Выход"}
                             << true;
    QTest::newRow("Russian, idle")
        << "ru"
        << "disconnected" << true << false
        << QStringList{u8"Открыть Kestrix", u8"Подключить", "", u8"Выход"} << true;
}

// The native menu offers what the popup does, in the same words.
void TestTrayManager::menu()
{
    QFETCH(QString, language);
    QFETCH(QString, state);
    QFETCH(bool, signedIn);
    QFETCH(bool, windowShown);
    QFETCH(QStringList, texts);
    QFETCH(bool, actionEnabled);

    TrayManager tray;
    QMenu *menu = tray.menu();
    // Set after the menu exists: it follows every change.
    tray.setStrings(StringTable::forLanguage(language));
    tray.setVpnState(state);
    tray.setSignedIn(signedIn);
    tray.setWindowShown(windowShown);

    const QList<QAction *> actions = menu->actions();
    QStringList shown;
    for (const QAction *action : actions)
        shown << (action->isSeparator() ? QString() : action->text());
    QCOMPARE(shown, texts);
    QVERIFY(actions.at(2)->isSeparator());
    QCOMPARE(actions.at(1)->isEnabled(), actionEnabled);
    QVERIFY(actions.at(0)->isEnabled());
    QVERIFY(actions.at(3)->isEnabled());
}

void TestTrayManager::menuEntriesRequest_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("windowShown");
    QTest::addColumn<QString>("expected");

    QTest::newRow("open") << 0 << "disconnected" << false << "show";
    QTest::newRow("hide") << 0 << "disconnected" << true << "hide";
    QTest::newRow("connect") << 1 << "disconnected" << false << "connect";
    QTest::newRow("connect after a failure") << 1 << "failed" << false << "connect";
    QTest::newRow("disconnect") << 1 << "connected" << false << "disconnect";
    QTest::newRow("quit") << 3 << "connected" << true << "quit";
}

void TestTrayManager::menuEntriesRequest()
{
    QFETCH(int, entry);
    QFETCH(QString, state);
    QFETCH(bool, windowShown);
    QFETCH(QString, expected);

    TrayManager tray;
    tray.setSignedIn(true);
    tray.setVpnState(state);
    tray.setWindowShown(windowShown);
    QStringList requests;
    connect(&tray, &TrayManager::showRequested, this, [&] { requests << "show"; });
    connect(&tray, &TrayManager::hideRequested, this, [&] { requests << "hide"; });
    connect(&tray, &TrayManager::toggleWindowRequested, this, [&] { requests << "toggle"; });
    connect(&tray, &TrayManager::connectRequested, this, [&] { requests << "connect"; });
    connect(&tray, &TrayManager::disconnectRequested, this, [&] { requests << "disconnect"; });
    connect(&tray, &TrayManager::quitRequested, this, [&] { requests << "quit"; });
    tray.menu()->actions().at(entry)->trigger();
    QCOMPARE(requests, QStringList{expected});
}

// The menu goes on the icon only for a StatusNotifierItem host, which shows
// it; an XEmbed tray keeps the popup on a right click.
void TestTrayManager::menuOnlyWhereTheHostShowsIt()
{
    TrayManager tray;
    TrayManager::Host host = TrayManager::Host::XEmbed;
    tray.setHostProbe([&host] { return host; });
    QVERIFY(tray.trayIcon());
    QCOMPARE(tray.iconHost(), TrayManager::Host::XEmbed);
    QVERIFY(!tray.trayIcon()->contextMenu());
    QSignalSpy popup(&tray, &TrayManager::popupRequested);
    emit tray.trayIcon()->activated(QSystemTrayIcon::Context);
    QCOMPARE(popup.count(), 1);

    host = TrayManager::Host::StatusNotifier;
    tray.refreshTrayAvailable();
    QCOMPARE(tray.iconHost(), TrayManager::Host::StatusNotifier);
    QCOMPARE(tray.trayIcon()->contextMenu(), tray.menu());
    // A host that still sends a right click (swaybar) gets the popup.
    emit tray.trayIcon()->activated(QSystemTrayIcon::Context);
    QCOMPARE(popup.count(), 2);
}

// The popup is kept inside the screen under the anchor, less its panels.
void TestTrayManager::popupStaysOnTheScreenUnderTheAnchor()
{
    TrayManager tray;
    for (QScreen *screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        QCOMPARE(tray.availableAreaAt(geometry.center().x(), geometry.center().y()),
                 screen->availableGeometry());
    }
    // Beyond every screen: the primary one.
    QCOMPARE(tray.availableAreaAt(-100000, -100000),
             QGuiApplication::primaryScreen()->availableGeometry());
}

KESTRIX_TEST_MAIN(TestTrayManager)
#include "tst_traymanager.moc"
