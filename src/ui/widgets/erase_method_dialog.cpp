#include "ui/widgets/erase_method_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/widgets/pictures.h"

namespace palvoro {
namespace {

// Wide enough for a method's sentence on one or two lines at the desktop's font.
constexpr int kWidthInCharacters = 80;

}  // namespace

CEraseMethodDlg::CEraseMethodDlg(const EraseOffer& offer, int32_t mode, const std::string& operatorName,
                                 QWidget* parent)
    : QDialog(parent), m_offer(offer), m_view(eraseMethodView(offer)) {
  setWindowTitle("ERASE METHOD");
  setWindowIcon(programIcon());
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setModal(true);
  setMinimumWidth(fontMetrics().averageCharWidth() * kWidthInCharacters);

  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      "Choose how the drive is erased. A Clear protects the data against the drive's ordinary commands; "
      "a Purge against recovery in a laboratory too.",
      this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  buildMethods(*layout, mode);
  buildHiddenAreas(*layout);
  buildOperator(*layout, operatorName);

  auto* buttons = new QDialogButtonBox(this);
  m_ok = buttons->addButton(QDialogButtonBox::Ok);
  m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
  m_ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  follow();
}

QLabel* CEraseMethodDlg::smallLabel(const std::string& text, int indent) {
  // The drive supplied some of these words: shown as they came, never as markup.
  auto* label = new QLabel(QString::fromStdString(text), this);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setContentsMargins(indent, 0, 0, 0);
  QFont small = label->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  label->setFont(small);
  return label;
}

void CEraseMethodDlg::buildMethods(QVBoxLayout& layout, int32_t mode) {
  auto* box = new QGroupBox("Method", this);
  auto* column = new QVBoxLayout(box);
  const int indent = style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
                     style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
  m_methods = new QButtonGroup(this);
  bool checked = false;
  for (size_t i = 0; i < m_view.rows.size(); ++i) {
    const EraseMethodRow& row = m_view.rows[i];
    RowWidgets widgets;
    widgets.button = new QRadioButton(QString::fromStdString(row.label), box);
    widgets.button->setEnabled(row.enabled);
    m_methods->addButton(widgets.button, static_cast<int>(i));
    column->addWidget(widgets.button);
    widgets.sentence = smallLabel(row.sentence, indent);
    widgets.sentence->setEnabled(row.enabled);
    column->addWidget(widgets.sentence);
    if (!row.why.empty()) {
      widgets.why = smallLabel(row.why, indent);
      QFont aside = widgets.why->font();
      aside.setItalic(true);
      widgets.why->setFont(aside);
      column->addWidget(widgets.why);
    }
    if (row.preselected) {
      widgets.button->setChecked(true);
      checked = true;
    }
    if (row.method == PurgeMethod::Overwrite) {
      // The overwrite's two forms, under it, in a group of their own.
      auto* forms = new QButtonGroup(this);
      m_quick = new QRadioButton(kQuickEraseText, box);
      m_full = new QRadioButton(kFullEraseText, box);
      for (QRadioButton* form : {m_quick, m_full}) {
        forms->addButton(form);
        auto* line = new QHBoxLayout;
        line->setContentsMargins(indent, 0, 0, 0);
        line->addWidget(form);
        column->addLayout(line);
      }
      (mode == 1 && m_view.fullOffered ? m_full : m_quick)->setChecked(true);
    }
    m_rows.push_back(widgets);
    // A little air between one method's lines and the next method.
    if (i + 1 < m_view.rows.size()) column->addSpacing(fontMetrics().height() / 3);
  }
  // The overwrite is always offered; the first offered method stands in for a default
  // that is not.
  for (size_t i = 0; !checked && i < m_rows.size(); ++i) {
    if (m_view.rows[i].enabled) {
      m_rows[i].button->setChecked(true);
      checked = true;
    }
  }
  connect(m_methods, &QButtonGroup::idToggled, this, [this](int, bool on) {
    if (on) follow();
  });
  layout.addWidget(box);
}

void CEraseMethodDlg::buildHiddenAreas(QVBoxLayout& layout) {
  if (m_view.hiddenWarning.empty()) return;
  auto* box = new QGroupBox("Hidden areas", this);
  auto* column = new QVBoxLayout(box);
  m_warning = new QLabel(QString::fromStdString(m_view.hiddenWarning), box);
  m_warning->setTextFormat(Qt::PlainText);
  m_warning->setWordWrap(true);
  column->addWidget(m_warning);
  if (m_view.hpaChoice) {
    m_lift = new QCheckBox("Lift the Host Protected Area for this erase", box);
    m_restore = new QCheckBox("Put it back afterwards", box);
    auto* line = new QHBoxLayout;
    line->setContentsMargins(style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                                 style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing),
                             0, 0, 0);
    line->addWidget(m_restore);
    column->addWidget(m_lift);
    column->addLayout(line);
    m_hpaNote = smallLabel("", 0);
    column->addWidget(m_hpaNote);
    connect(m_lift, &QCheckBox::toggled, this, [this] { follow(); });
  }
  layout.addWidget(box);
}

void CEraseMethodDlg::buildOperator(QVBoxLayout& layout, const std::string& operatorName) {
  auto* line = new QHBoxLayout;
  auto* caption = new QLabel("Operator:", this);
  m_operator = new QLineEdit(QString::fromStdString(operatorName), this);
  m_operator->setPlaceholderText("who erases, as the certificate names them");
  caption->setBuddy(m_operator);
  line->addWidget(caption);
  line->addWidget(m_operator, 1);
  layout.addLayout(line);
}

PurgeMethod CEraseMethodDlg::selectedMethod() const {
  const int row = m_methods->checkedId();
  if (row < 0 || static_cast<size_t>(row) >= m_view.rows.size()) return PurgeMethod::Overwrite;
  return m_view.rows[static_cast<size_t>(row)].method;
}

void CEraseMethodDlg::follow() {
  const PurgeMethod method = selectedMethod();
  if (m_quick != nullptr) {
    const bool overwrite = method == PurgeMethod::Overwrite;
    m_quick->setEnabled(overwrite);
    m_full->setEnabled(overwrite && m_view.fullOffered);
  }
  if (m_lift != nullptr) {
    const HpaBoxes boxes = hpaBoxes(method, m_lift->isChecked());
    m_lift->setEnabled(boxes.liftEnabled);
    m_restore->setEnabled(boxes.restoreEnabled);
    m_hpaNote->setText(QString::fromStdString(boxes.note));
  }
  m_ok->setEnabled(m_methods->checkedId() >= 0);
}

EraseChoice CEraseMethodDlg::choice() const {
  return eraseChoiceOf(m_offer, selectedMethod(), m_full != nullptr && m_full->isChecked() ? 1 : 0,
                       m_lift != nullptr && m_lift->isChecked(), m_restore != nullptr && m_restore->isChecked(),
                       m_operator->text().toStdString());
}

}  // namespace palvoro
