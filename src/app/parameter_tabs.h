#pragma once
// The parameter controls of the window's tab sheets, made from the parameter table: every
// entry with a place gets its control (edit box, check box, drop-down list or radio buttons)
// named after its field, with the entry's caption, default and tool tip; the read-out fills
// FormValues through the same table.
#include "run/parameter_table.h"

class QWidget;

namespace quenlith {

// Whether an entry has a control of its own on its sheet (the working directory, chosen in
// the directory tree, has none).
bool hasParameterControl(const ParameterEntry& e);

// Makes the controls of every entry of `tab` on `sheet`, in the table's order.
void addParameterControls(QWidget* sheet, ParameterTab tab);

// The values of the controls below `root`; fields without a control keep their defaults.
FormValues readParameterControls(const QWidget& root);

} // namespace quenlith
