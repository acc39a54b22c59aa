// Scales an image down once, smoothly, for a place that only ever shows it
// small: decoding the full-size PNG at every start cost more than the rest
// of loading the window.
//
//   makescaled <input.png> <size in px> <output.png>

#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: makescaled <input.png> <size> <output.png>\n");
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    const int size = QString::fromLatin1(argv[2]).toInt();
    if (source.isNull() || size < 1) {
        std::fprintf(stderr, "cannot read %s, or no size\n", argv[1]);
        return 2;
    }
    const QImage scaled = source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return scaled.save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
}
