// Realises a dialog template with Qt widgets: each item at its place in dialog units,
// created in template order, which is also the tab order.
#pragma once

#include <QFont>
#include <utility>
#include <vector>

#include "app/DialogTemplate.h"

class QDialog;
class QWidget;

namespace qtui {

// The dialog font: an 8-point sans whose base units are those the templates assume.
QFont dialogFont();

// A field's accessible name from the text of its label: "Voltage In:" names it "Voltage In".
QString accessibleNameFromLabel(const QString& label);

// The closed height of a drop-down list, in dialog units: that of the edit beside it.
inline constexpr int DROP_DOWN_CLOSED_HEIGHT_DU = 12;

// Creates the items of `dialogTemplate` in `dialog`, gives the dialog the template's fixed
// client size, caption and font. Returns (id, widget) in template order.
std::vector<std::pair<int, QWidget*>> buildDialog(QDialog& dialog,
                                                  const ui::DialogTemplate& dialogTemplate);

}  // namespace qtui
