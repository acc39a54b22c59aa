// The eleven colours of AppSettings in both themes.

#include "settings/appsettings.h"
#include "settingsfixture.h"
#include "signallog.h"

#include <QMetaProperty>
#include <QtTest>

using namespace SettingsFixture;

namespace {

const char *const kColourNames[] = {"bg",      "surface", "surfaceAlt", "fg",
                                    "fgMuted", "accent",  "accentText", "border",
                                    "success", "warning", "danger"};

QString hexOf(const AppSettings &settings, const char *name)
{
    const QColor colour = settings.property(name).value<QColor>();
    if (!colour.isValid() || colour.alpha() != 255)
        return QStringLiteral("invalid or not opaque");
    return colour.name(QColor::HexRgb).toUpper();
}

QStringList allColours(const AppSettings &settings)
{
    QStringList colours;
    for (const char *name : kColourNames)
        colours << hexOf(settings, name);
    return colours;
}

} // namespace

class TestPalette : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetStore(); }

    void colours_data();
    void colours();
    void firstStartIsDark();
    void themeSwitchesAllColoursWithOneSignal();
    void colourPropertiesAsQmlSeesThem();
};

void TestPalette::colours_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("dark");
    QTest::addColumn<QString>("light");

    QTest::newRow("bg") << "bg"
                        << "#0F1115"
                        << "#EEF1F6";
    QTest::newRow("surface") << "surface"
                             << "#1A1D24"
                             << "#FFFFFF";
    QTest::newRow("surfaceAlt") << "surfaceAlt"
                                << "#22262F"
                                << "#E4E9F1";
    QTest::newRow("fg") << "fg"
                        << "#ECEFF4"
                        << "#1A1D24";
    QTest::newRow("fgMuted") << "fgMuted"
                             << "#8A93A3"
                             << "#5A6472";
    QTest::newRow("accent") << "accent"
                            << "#4C8BF5"
                            << "#3B6FE0";
    QTest::newRow("accentText") << "accentText"
                                << "#FFFFFF"
                                << "#FFFFFF";
    QTest::newRow("border") << "border"
                            << "#2A2F3A"
                            << "#D5DBE5";
    QTest::newRow("success") << "success"
                             << "#2FBF71"
                             << "#2FBF71";
    QTest::newRow("warning") << "warning"
                             << "#F0A500"
                             << "#F0A500";
    QTest::newRow("danger") << "danger"
                            << "#E5484D"
                            << "#E5484D";
}

void TestPalette::colours()
{
    QFETCH(QString, name);
    QFETCH(QString, dark);
    QFETCH(QString, light);

    AppSettings settings;
    const QByteArray property = name.toLatin1();
    settings.setDarkTheme(true);
    QCOMPARE(hexOf(settings, property.constData()), dark);
    settings.setDarkTheme(false);
    QCOMPARE(hexOf(settings, property.constData()), light);
}

void TestPalette::firstStartIsDark()
{
    const AppSettings settings;
    QVERIFY(settings.darkTheme());
    QCOMPARE(hexOf(settings, "bg"), QStringLiteral("#0F1115"));
    QCOMPARE(hexOf(settings, "fg"), QStringLiteral("#ECEFF4"));
}

void TestPalette::themeSwitchesAllColoursWithOneSignal()
{
    AppSettings settings;
    SignalLog log(&settings, [&settings] { return hexOf(settings, "bg"); });
    const QStringList dark = allColours(settings);

    settings.setDarkTheme(false);
    // Read from inside the signal: the new colours are already in place.
    QCOMPARE(log.emitted, QStringList{QStringLiteral("themeChanged")});
    QCOMPARE(log.seen, QStringList{QStringLiteral("#EEF1F6")});
    const QStringList light = allColours(settings);
    // Only these four are the same in both palettes.
    const QSet<QString> shared{QStringLiteral("accentText"), QStringLiteral("success"),
                               QStringLiteral("warning"), QStringLiteral("danger")};
    for (int i = 0; i < dark.size(); ++i)
        QCOMPARE(dark.at(i) == light.at(i), shared.contains(QLatin1String(kColourNames[i])));

    settings.setDarkTheme(false);
    QCOMPARE(log.emitted.size(), 1);

    settings.toggleTheme();
    settings.toggleTheme();
    settings.toggleTheme();
    QCOMPARE(allColours(settings), dark);
    QCOMPARE(log.emitted.size(), 4);
}

// Read-only, notified by the theme's signal, in this order after the texts.
void TestPalette::colourPropertiesAsQmlSeesThem()
{
    const QMetaObject &meta = AppSettings::staticMetaObject;
    const int first = meta.indexOfProperty("t") + 1;
    QCOMPARE(meta.propertyCount() - first, int(std::size(kColourNames)));
    for (int i = 0; i < int(std::size(kColourNames)); ++i) {
        const QMetaProperty property = meta.property(first + i);
        QCOMPARE(property.name(), kColourNames[i]);
        QCOMPARE(property.metaType(), QMetaType::fromType<QColor>());
        QVERIFY(!property.isWritable());
        QCOMPARE(property.notifySignal().name(), QByteArray("themeChanged"));
    }
}

KESTRIX_SETTINGS_TEST_MAIN(TestPalette)

#include "tst_palette.moc"
