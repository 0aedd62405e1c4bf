#pragma once
// Pieces several report windows are built from, made one way.

#include <QString>

class QBoxLayout;
class QDialog;
class QLabel;
class QPushButton;
class QWidget;

namespace palvoro {

// A label that shows `text` as it stands, never as markup: drive-reported text (models,
// serials, log notes) goes into these.
QLabel* plainTextLabel(const QString& text, QWidget* parent);

// The foot of a report window: a row with the default "&Close" button on the right, which
// accepts `dialog`. Adds the row to `layout` and returns the button.
QPushButton* addCloseRow(QDialog& dialog, QBoxLayout& layout);

}  // namespace palvoro
