#include "ui/widgets/dialog_parts.h"

#include <QBoxLayout>
#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace palvoro {

QLabel* plainTextLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QPushButton* addCloseRow(QDialog& dialog, QBoxLayout& layout) {
  auto* row = new QHBoxLayout;
  row->addStretch();
  auto* close = new QPushButton(QStringLiteral("&Close"), &dialog);
  close->setDefault(true);
  QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
  row->addWidget(close);
  layout.addLayout(row);
  return close;
}

}  // namespace palvoro
