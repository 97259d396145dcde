#include "app/parameter_tabs.h"
#include "app/sheet_controls.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>

namespace quenlith {

bool hasParameterControl(const ParameterEntry& e) {
    if (e.tab == ParameterTab::None) return false;
    // Radio buttons are placed one by one; every other control stands below the sheet's top.
    return e.place.y > 0 || (e.kind == ParameterKind::Choice && *e.place.control);
}

namespace {

int orDefault(int value, int fallback) {
    return value > 0 ? value : fallback;
}

void addTip(QWidget* w, const ParameterEntry& e) {
    if (*e.place.tip) w->setToolTip(QString::fromUtf8(e.place.tip));
}

void addCaptionLabel(QWidget* sheet, const ParameterEntry& e) {
    const ParameterPlace& p = e.place;
    if (*p.label)
        addLabel(sheet, p.label, QString::fromUtf8(e.caption), p.labelX, p.labelY, p.labelWidth);
}

void addChoice(QWidget* sheet, const ParameterEntry& e, const std::string& chosen) {
    const ParameterPlace& p = e.place;
    switch (p.choice) {
    case ChoiceControl::List: {
        addCaptionLabel(sheet, e);
        auto* list = place(new QComboBox(sheet), p.control, p.x, p.y, orDefault(p.width, 145),
                           orDefault(p.height, kEditHeight));
        for (const ParameterChoice& c : e.choices) {
            list->addItem(QString::fromUtf8(c.caption));
            if (std::to_string(c.value) == chosen) list->setCurrentIndex(list->count() - 1);
        }
        addTip(list, e);
        return;
    }
    case ChoiceControl::Radios: {
        auto* group = new QButtonGroup(sheet);
        group->setObjectName(QString::fromLatin1(p.control));
        for (const ParameterChoice& c : e.choices) {
            auto* radio = place(new QRadioButton(QString::fromUtf8(c.caption), sheet), c.control,
                                c.x, c.y, orDefault(c.width, 150), kRowHeight + 2);
            radio->setChecked(std::to_string(c.value) == chosen);
            group->addButton(radio);
        }
        return;
    }
    case ChoiceControl::RadioBox: {
        auto* box = place(new QGroupBox(QString::fromUtf8(e.caption), sheet), p.control, p.x, p.y,
                          p.width, p.height);
        addTip(box, e);
        auto* group = new QButtonGroup(box);
        auto* columns = new QHBoxLayout(box);
        columns->setContentsMargins(6, 2, 6, 2);
        for (const ParameterChoice& c : e.choices) {
            auto* item = new QRadioButton(QString::fromUtf8(c.caption), box);
            item->setObjectName(QString::fromLatin1(c.control));
            item->setFont(helvetica(kControlPixels));
            group->addButton(item);
            columns->addWidget(item);
        }
        for (const ParameterChoice& c : e.choices)
            if (std::to_string(c.value) == chosen)
                box->findChild<QRadioButton*>(QString::fromLatin1(c.control))->setChecked(true);
        return;
    }
    }
}

} // namespace

void addParameterControls(QWidget* sheet, ParameterTab tab) {
    static const FormValues defaults;
    for (const ParameterEntry& e : parameterTable()) {
        if (e.tab != tab || !hasParameterControl(e)) continue;
        const ParameterPlace& p = e.place;
        const std::string value = e.get(defaults);
        switch (e.kind) {
        case ParameterKind::Text:
        case ParameterKind::CheckedText: {
            addCaptionLabel(sheet, e);
            auto* edit = place(new QLineEdit(QString::fromStdString(value), sheet), e.field, p.x,
                               p.y, orDefault(p.width, 73), orDefault(p.height, kEditHeight));
            addTip(edit, e);
            break;
        }
        case ParameterKind::Flag: {
            auto* box = place(new QCheckBox(QString::fromUtf8(e.caption), sheet), e.field, p.x, p.y,
                              orDefault(p.width, 305), orDefault(p.height, kRowHeight + 2));
            box->setChecked(value == "1");
            addTip(box, e);
            break;
        }
        case ParameterKind::Choice:
            addChoice(sheet, e, value);
            break;
        case ParameterKind::Number:
            break; // the command line's only
        }
    }
}

FormValues readParameterControls(const QWidget& root) {
    FormValues f;
    for (const ParameterEntry& e : parameterTable()) {
        if (!hasParameterControl(e)) continue;
        switch (e.kind) {
        case ParameterKind::Text:
        case ParameterKind::CheckedText:
            if (const auto* edit = root.findChild<QLineEdit*>(e.field))
                e.set(f, edit->text().toStdString());
            break;
        case ParameterKind::Flag:
            if (const auto* box = root.findChild<QCheckBox*>(e.field))
                e.set(f, box->isChecked() ? "1" : "0");
            break;
        case ParameterKind::Choice:
            if (e.place.choice == ChoiceControl::List) {
                const auto* list = root.findChild<QComboBox*>(e.place.control);
                const int index = list ? list->currentIndex() : -1;
                if (index >= 0 && index < static_cast<int>(e.choices.size()))
                    e.set(f, std::to_string(e.choices[index].value));
            } else {
                for (const ParameterChoice& c : e.choices) {
                    const auto* radio = root.findChild<QRadioButton*>(c.control);
                    if (radio && radio->isChecked()) e.set(f, std::to_string(c.value));
                }
            }
            break;
        case ParameterKind::Number:
            break;
        }
    }
    return f;
}

} // namespace quenlith
