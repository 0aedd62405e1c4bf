#include "ui/widgets/erase_dialogs.h"

#include <algorithm>

#include <QButtonGroup>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "ui/model/erase_method_model.h"
#include "ui/widgets/dialog_units.h"
#include "ui/widgets/pictures.h"

namespace palvoro {
namespace {

// Both templates: 261 x 69 dialog units, caption with system menu, modal frame.
void frame(QDialog& dialog, const char* title) {
  dialog.setWindowTitle(title);
  dialog.setWindowIcon(programIcon());
  dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  dialog.setModal(true);
  const QRect size = dluRect(dialog, 0, 0, 261, 69);
  dialog.setFixedSize(size.width(), size.height());
}

// OK (default) at 64,48 and Cancel at 134,48, both 50 x 14.
void buttons(QDialog& dialog, QPushButton*& ok, QPushButton*& cancel) {
  ok = new QPushButton("OK", &dialog);
  ok->setGeometry(dluRect(dialog, 64, 48, 50, 14));
  ok->setDefault(true);
  cancel = new QPushButton("Cancel", &dialog);
  cancel->setGeometry(dluRect(dialog, 134, 48, 50, 14));
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
}

}  // namespace

CEraseDLg::CEraseDLg(std::atomic<int32_t>& eraseMode, QWidget* parent) : QDialog(parent), m_eraseMode(eraseMode) {
  frame(*this, "ERASE");
  m_quick = new QRadioButton(kQuickEraseText, this);
  m_quick->setGeometry(dluRect(*this, 7, 11, 223, 10));
  // The template's width fits the text at its own font; a wider desktop font still shows it whole.
  m_quick->resize(std::max(m_quick->width(), m_quick->sizeHint().width()), m_quick->height());
  m_full = new QRadioButton(kFullEraseText, this);
  m_full->setGeometry(dluRect(*this, 7, 25, 247, 10));
  // The two buttons check themselves and exclude each other.
  auto* group = new QButtonGroup(this);
  group->addButton(m_quick);
  group->addButton(m_full);
  buttons(*this, m_ok, m_cancel);
  // Opens with the previous choice.
  (m_eraseMode.load() == 1 ? m_full : m_quick)->setChecked(true);
}

void CEraseDLg::accept() {
  m_eraseMode = m_quick->isChecked() ? 0 : 1;
  QDialog::accept();
}

CQuickEraseDLg::CQuickEraseDLg(std::atomic<int32_t>& eraseMode, QWidget* parent)
    : QDialog(parent), m_eraseMode(eraseMode) {
  frame(*this, "QUICK ERASE");
  m_text = new QLabel(kQuickEraseText, this);
  m_text->setGeometry(dluRect(*this, 7, 11, 247, 10));
  buttons(*this, m_ok, m_cancel);
}

void CQuickEraseDLg::accept() {
  m_eraseMode = 0;
  QDialog::accept();
}

}  // namespace palvoro
