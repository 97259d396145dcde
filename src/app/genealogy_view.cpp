#include "app/genealogy_view.h"

#include "app/genealogy_image.h"

#include <QPainter>
#include <algorithm>

namespace quenlith {

GenealogyView::GenealogyView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void GenealogyView::setDrawing(const Drawing& drawing) {
    drawing_ = drawing;
    shown_ = true;
    update();
}

void GenealogyView::clear() {
    drawing_.clear();
    shown_ = false;
    update();
}

QRectF GenealogyView::pictureRect() const {
    const double w = drawing_.width, h = drawing_.height;
    const double scale = std::min(width() / w, height() / h);
    return QRectF(0, 0, w * scale, h * scale);
}

QSize GenealogyView::sizeHint() const {
    return {kImageWidth, kImageHeight};
}

QSize GenealogyView::minimumSizeHint() const {
    return {kImageWidth / 2, kImageHeight / 2};
}

void GenealogyView::paintEvent(QPaintEvent*) {
    if (!shown_) return;
    QPainter painter(this);
    const QRectF area = pictureRect();
    painter.fillRect(area, Qt::white);
    painter.setClipRect(area);
    painter.scale(area.width() / drawing_.width, area.height() / drawing_.height);
    paintDrawing(drawing_, painter);
}

} // namespace quenlith
