#include "app/genealogy_image.h"

#include "base/file_io.h"
#include "base/run_error.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <optional>

namespace quenlith {

namespace {

QColor toColor(uint32_t rgb) {
    return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>(rgb & 0xFF));
}

// Keeps far-away coordinates in a range the raster engine handles; the image is clipped
// anyway.
int clampCoordinate(int32_t v) {
    return std::clamp<int32_t>(v, -1000, 10000);
}

bool sameLine(const DrawLine& a, const DrawLine& b) {
    return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2 && a.colour == b.colour &&
           a.width == b.width;
}

} // namespace

struct PainterSink::Impl {
    explicit Impl(QImage& image) : own(std::in_place, &image), painter(*own) { setHints(); }
    explicit Impl(QPainter& p) : painter(p) { setHints(); }
    void setHints() {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
    }
    std::optional<QPainter> own;
    QPainter& painter;
    // With many tips at one x the same segment arrives many times in a row; painting an
    // opaque line again changes nothing.
    std::optional<DrawLine> last;
};

QImage blankGenealogyImage() {
    QImage image(kImageWidth, kImageHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

QFont drawingFont(int pointSize) {
    QFont font;
    font.setFamilies(
        {"adobe-helvetica", "Helvetica", "Nimbus Sans", "Liberation Sans", "DejaVu Sans"});
    font.setPointSize(pointSize);
    return font;
}

PainterSink::PainterSink(QImage& image) : impl_(new Impl(image)) {}

PainterSink::PainterSink(QPainter& painter) : impl_(new Impl(painter)) {}

PainterSink::~PainterSink() {
    delete impl_;
}

void PainterSink::line(const DrawLine& l) {
    if (impl_->last && sameLine(*impl_->last, l)) return;
    impl_->last = l;
    QPen pen(toColor(l.colour));
    pen.setWidth(l.width);
    pen.setCapStyle(Qt::FlatCap);
    impl_->painter.setPen(pen);
    impl_->painter.drawLine(clampCoordinate(l.x1), clampCoordinate(l.y1), clampCoordinate(l.x2),
                            clampCoordinate(l.y2));
}

void PainterSink::text(const DrawText& t) {
    const QFont font = drawingFont(t.pointSize);
    impl_->painter.setFont(font);
    impl_->painter.setPen(QPen(toColor(t.colour)));
    const QFontMetrics metrics(font, impl_->painter.device());
    impl_->painter.drawText(QPoint(clampCoordinate(t.x), clampCoordinate(t.y) + metrics.ascent()),
                            QString::fromStdString(t.text));
}

QImage renderGenealogy(const GenealogyPicture& picture) {
    Drawing drawing;
    drawGenealogy(picture, drawing);
    return renderDrawing(drawing);
}

void paintDrawing(const Drawing& drawing, QPainter& painter) {
    painter.save();
    {
        PainterSink sink(painter);
        drawing.replay(sink);
    }
    painter.restore();
}

QImage renderDrawing(const Drawing& drawing) {
    QImage image(drawing.width, drawing.height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintDrawing(drawing, painter);
    return image;
}

void writeBmpFile(const QImage& image, const std::string& path) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "BMP")) throw RunError("Out of memory", path);
    writeWholeFile(path, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

} // namespace quenlith
