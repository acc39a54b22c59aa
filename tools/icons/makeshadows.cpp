// Draws the shadows that PanelShadow.qml lays around a rounded panel, once,
// as nine-patch images: drawing them at run time took a Gaussian blur shader,
// which meant a GL context and a shader compiler before the first frame.
//
//   makeshadows <folder> <corner radius>:<blur radius> ...
//
// writes <folder>/panelshadow-r<corner>-b<blur>.png for each pair: black, its
// alpha the Gaussian blur (deviation (blur + 1) / 3.3333, taps out to the blur
// radius) of a rounded rectangle with that corner radius. The rectangle lies
// <blur> px inside the image's edges, and the middle row and column are where
// the shadow of a straight edge no longer depends on the corners: a
// BorderImage with borders of 2 * blur + corner px stretches it to any size.

#include <QImage>
#include <QPainter>
#include <QString>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// The blur of one line of alpha values, with transparent beyond its ends.
std::vector<double> blurLine(const std::vector<double> &in, const std::vector<double> &kernel)
{
    const int reach = int(kernel.size() / 2);
    const int n = int(in.size());
    std::vector<double> out(in.size(), 0.0);
    for (int i = 0; i < n; ++i) {
        double sum = 0;
        for (int k = -reach; k <= reach; ++k) {
            const int j = i + k;
            if (j >= 0 && j < n)
                sum += in[size_t(j)] * kernel[size_t(k + reach)];
        }
        out[size_t(i)] = sum;
    }
    return out;
}

QImage drawShadow(int corner, int blur)
{
    const int border = 2 * blur + corner;
    const int size = 2 * border + 1;

    QImage mask(size, size, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRoundedRect(QRectF(blur, blur, size - 2 * blur, size - 2 * blur), corner, corner);
    }

    const double deviation = (blur + 1) / 3.3333;
    std::vector<double> kernel(size_t(2 * blur + 1));
    double total = 0;
    for (int k = -blur; k <= blur; ++k)
        total += kernel[size_t(k + blur)] = std::exp(-double(k * k) / (2 * deviation * deviation));
    for (double &w : kernel)
        w /= total;

    std::vector<std::vector<double>> alpha(static_cast<size_t>(size));
    for (int y = 0; y < size; ++y) {
        std::vector<double> row(static_cast<size_t>(size));
        for (int x = 0; x < size; ++x)
            row[size_t(x)] = qAlpha(mask.pixel(x, y)) / 255.0;
        alpha[size_t(y)] = blurLine(row, kernel);
    }
    QImage out(size, size, QImage::Format_ARGB32);
    for (int x = 0; x < size; ++x) {
        std::vector<double> column(static_cast<size_t>(size));
        for (int y = 0; y < size; ++y)
            column[size_t(y)] = alpha[size_t(y)][size_t(x)];
        column = blurLine(column, kernel);
        for (int y = 0; y < size; ++y)
            out.setPixel(x, y, qRgba(0, 0, 0, int(std::lround(column[size_t(y)] * 255))));
    }
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: makeshadows <folder> <corner>:<blur> ...\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const QStringList pair = QString::fromLatin1(argv[i]).split(QLatin1Char(':'));
        bool cornerOk = false, blurOk = false;
        const int corner = pair.value(0).toInt(&cornerOk);
        const int blur = pair.value(1).toInt(&blurOk);
        if (pair.size() != 2 || !cornerOk || !blurOk || corner < 0 || blur < 1 || blur > 64) {
            std::fprintf(stderr, "not <corner>:<blur>: %s\n", argv[i]);
            return 2;
        }
        const QString path =
            QStringLiteral("%1/panelshadow-r%2-b%3.png").arg(folder).arg(corner).arg(blur);
        if (!drawShadow(corner, blur).save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
