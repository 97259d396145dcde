#include "app/picture_files.h"

#include "app/genealogy_image.h"
#include "base/file_io.h"
#include "base/run_error.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

namespace quenlith {

namespace {

constexpr int kScreenDpi = 96;

const struct {
    const char* filter;
    const char* suffix;
    PictureFormat format;
} kFilters[] = {
    {"Bitmap (*.bmp)", "", PictureFormat::Bmp}, {"Jpeg (*.jpg)", "", PictureFormat::Bmp},
    {"PNG (*.png)", "png", PictureFormat::Png}, {"SVG (*.svg)", "svg", PictureFormat::Svg},
    {"PDF (*.pdf)", "pdf", PictureFormat::Pdf},
};

} // namespace

PictureFormat pictureFormatFor(const QString& fileName, const QString& selectedFilter) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix.isEmpty() || suffix == "bmp") return PictureFormat::Bmp;
    if (suffix == "png") return PictureFormat::Png;
    if (suffix == "svg") return PictureFormat::Svg;
    if (suffix == "pdf") return PictureFormat::Pdf;
    for (const auto& f : kFilters)
        if (selectedFilter == f.filter) return f.format;
    return PictureFormat::Bmp;
}

QStringList pictureFilters() {
    QStringList out;
    for (const auto& f : kFilters)
        out << f.filter;
    return out;
}

QString pictureSuffixFor(const QString& filter) {
    for (const auto& f : kFilters)
        if (filter == f.filter) return f.suffix;
    return {};
}

void savePicture(const std::function<void(QPainter&)>& paint, QSize size, const QString& path,
                 PictureFormat format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    bool ok = true;
    switch (format) {
    case PictureFormat::Bmp:
    case PictureFormat::Png: {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            paint(painter);
        }
        ok = image.save(&buffer, format == PictureFormat::Png ? "PNG" : "BMP");
        break;
    }
    case PictureFormat::Svg: {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setResolution(kScreenDpi);
        svg.setTitle("Quenlith");
        QPainter painter;
        ok = painter.begin(&svg);
        if (ok) {
            painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
            paint(painter);
            painter.end();
        }
        break;
    }
    case PictureFormat::Pdf: {
        QPdfWriter pdf(&buffer);
        pdf.setResolution(kScreenDpi);
        pdf.setPageSize(
            QPageSize(QSizeF(size.width() * 72.0 / kScreenDpi, size.height() * 72.0 / kScreenDpi),
                      QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setCreator("Quenlith");
        QPainter painter;
        ok = painter.begin(&pdf);
        if (ok) {
            paint(painter);
            painter.end();
        }
        break;
    }
    }
    if (!ok) throw RunError("Out of memory", path.toStdString());
    writeWholeFile(path.toStdString(),
                   std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

void saveDrawing(const Drawing& drawing, const QString& path, PictureFormat format) {
    savePicture([&](QPainter& painter) { paintDrawing(drawing, painter); },
                QSize(drawing.width, drawing.height), path, format);
}

} // namespace quenlith
