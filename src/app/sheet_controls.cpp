#include "app/sheet_controls.h"

#include <QLabel>

namespace quenlith {

QFont helvetica(int pixels, bool bold) {
    QFont font;
    font.setFamilies(
        {"adobe-helvetica", "Helvetica", "Nimbus Sans", "Liberation Sans", "DejaVu Sans"});
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QLabel* addLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int width) {
    return place(new QLabel(text, parent), name, x, y, width, kRowHeight);
}

QLabel* addHeading(QWidget* parent, const char* name, const QString& text, int x, int y,
                   int pixels) {
    QLabel* label = place(new QLabel(text, parent), name, x, y, 300, pixels + 6);
    label->setFont(helvetica(pixels, true));
    return label;
}

} // namespace quenlith
