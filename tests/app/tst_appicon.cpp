#include "app/appicon.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <QtTest>

// The application icon: one image offered in the sizes desktops ask for,
// drawn when asked and not kept.
class TestAppIcon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void offersTheDesktopSizes();
    void drawsEachSizeFromTheImage_data();
    void drawsEachSizeFromTheImage();
    void highDensityGetsItsPixels();
    void paintsCentred();
    void keepsNoPixels();
    void nothingToReadIsNull_data();
    void nothingToReadIsNull();

private:
    // A square of four colours, one per quarter, so that a scaled copy
    // shows whether it was drawn from this image and the right way up.
    static QImage quarters(int side, const QColor &topLeft);
    QString write(const QString &name, const QImage &image);

    QTemporaryDir m_dir;
    QString m_path;
};

QImage TestAppIcon::quarters(int side, const QColor &topLeft)
{
    QImage image(side, side, QImage::Format_ARGB32);
    QPainter painter(&image);
    const int half = side / 2;
    painter.fillRect(0, 0, half, half, topLeft);
    painter.fillRect(half, 0, half, half, Qt::green);
    painter.fillRect(0, half, half, half, Qt::blue);
    painter.fillRect(half, half, half, half, Qt::yellow);
    return image;
}

QString TestAppIcon::write(const QString &name, const QImage &image)
{
    const QString path = m_dir.filePath(name);
    if (!image.save(path, "PNG"))
        qFatal("could not write %s", qPrintable(path));
    return path;
}

void TestAppIcon::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_path = write(QStringLiteral("icon.png"), quarters(256, Qt::red));
}

void TestAppIcon::offersTheDesktopSizes()
{
    const QIcon icon = iconInSizes(m_path);
    QVERIFY(!icon.isNull());
    QList<QSize> expected;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        expected.append(QSize(side, side));
    QCOMPARE(icon.availableSizes(), expected);
}

void TestAppIcon::drawsEachSizeFromTheImage_data()
{
    QTest::addColumn<QSize>("asked");
    QTest::addColumn<int>("side");

    QTest::newRow("16") << QSize(16, 16) << 16;
    QTest::newRow("32") << QSize(32, 32) << 32;
    QTest::newRow("256, as large as the image") << QSize(256, 256) << 256;
    QTest::newRow("not square: the smaller side") << QSize(40, 20) << 20;
}

void TestAppIcon::drawsEachSizeFromTheImage()
{
    QFETCH(QSize, asked);
    QFETCH(int, side);

    const QImage drawn = iconInSizes(m_path).pixmap(asked, 1.0).toImage();
    QCOMPARE(drawn.size(), QSize(side, side));
    const int quarter = side / 4;
    QCOMPARE(drawn.pixelColor(quarter, quarter), QColor(Qt::red));
    QCOMPARE(drawn.pixelColor(side - quarter, quarter), QColor(Qt::green));
    QCOMPARE(drawn.pixelColor(quarter, side - quarter), QColor(Qt::blue));
    QCOMPARE(drawn.pixelColor(side - quarter, side - quarter), QColor(Qt::yellow));
}

void TestAppIcon::highDensityGetsItsPixels()
{
    const QPixmap drawn = iconInSizes(m_path).pixmap(QSize(32, 32), 2.0);
    QCOMPARE(drawn.size(), QSize(64, 64));
    QCOMPARE(drawn.devicePixelRatio(), 2.0);
}

void TestAppIcon::paintsCentred()
{
    QImage canvas(60, 40, QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    iconInSizes(m_path).paint(&painter, canvas.rect());
    painter.end();
    // A 40 px square in the middle: white beside it, the icon within.
    QCOMPARE(canvas.pixelColor(5, 20), QColor(Qt::white));
    QCOMPARE(canvas.pixelColor(54, 20), QColor(Qt::white));
    QCOMPARE(canvas.pixelColor(15, 5), QColor(Qt::red));
    QCOMPARE(canvas.pixelColor(44, 35), QColor(Qt::yellow));
}

void TestAppIcon::keepsNoPixels()
{
    const QString path = write(QStringLiteral("changing.png"), quarters(64, Qt::red));
    const QIcon icon = iconInSizes(path);
    QCOMPARE(icon.pixmap(QSize(32, 32), 1.0).toImage().pixelColor(4, 4), QColor(Qt::red));

    // Drawn again from the file, not from pixels held since the first time.
    write(QStringLiteral("changing.png"), quarters(64, Qt::magenta));
    QCOMPARE(icon.pixmap(QSize(32, 32), 1.0).toImage().pixelColor(4, 4), QColor(Qt::magenta));
}

void TestAppIcon::nothingToReadIsNull_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all

    QTest::newRow("no file") << QByteArray();
    QTest::newRow("not an image") << QByteArray("not a picture at all\n");
    QTest::newRow("empty file") << QByteArray("", 0);
}

void TestAppIcon::nothingToReadIsNull()
{
    QFETCH(QByteArray, content);

    const QString path = m_dir.filePath(QStringLiteral("%1.png").arg(QTest::currentDataTag()));
    if (QByteArrayView(QTest::currentDataTag()) != "no file") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QVERIFY(iconInSizes(path).isNull());
}

QTEST_MAIN(TestAppIcon)
#include "tst_appicon.moc"
