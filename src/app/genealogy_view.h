#pragma once
// The genealogy image on screen: the drawing's primitives painted at the largest scale that
// fits the widget, so the picture grows and shrinks with the window and stays sharp.
#include "app/genealogy_drawing.h"

#include <QWidget>

namespace quenlith {

class GenealogyView : public QWidget {
    Q_OBJECT

  public:
    explicit GenealogyView(QWidget* parent = nullptr);

    void setDrawing(const Drawing& drawing);
    void clear();
    bool hasDrawing() const { return shown_; }
    const Drawing& drawing() const { return drawing_; }
    // Where the picture (633 x 529, wider with a legend) stands in the widget, and its scale.
    QRectF pictureRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Drawing drawing_;
    bool shown_ = false;
};

} // namespace quenlith
