// Makes the desktop icon: the window's logo scaled to fit a square of the given size and
// centred on a transparent background, since icon themes expect square images.
#include <QImage>
#include <QPainter>
#include <QString>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s LOGO SIZE OUT.png\n", argv[0]);
        return 2;
    }
    const QImage logo(QString::fromLocal8Bit(argv[1]));
    const int size = std::atoi(argv[2]);
    if (logo.isNull()) {
        std::fprintf(stderr, "%s: cannot read the image %s\n", argv[0], argv[1]);
        return 1;
    }
    if (size <= 0) {
        std::fprintf(stderr, "%s: the size must be a positive number: %s\n", argv[0], argv[2]);
        return 1;
    }
    const QImage scaled = logo.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.drawImage((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
    painter.end();
    if (!icon.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}
