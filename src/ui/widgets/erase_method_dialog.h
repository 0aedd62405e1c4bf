#pragma once
// CEraseMethodDlg, "ERASE METHOD": the erase choice for a drive that offers erase methods
// of its own or hides sectors from the host. One radio button per method in the order of
// the offer, the sentence that says what it does beneath it, and why a method is not
// offered; the overwrite's quick and full forms under the overwrite; the Host Protected
// Area's warning and its two boxes; who erases; OK and Cancel. It shows what
// eraseMethodView computed and hands its state to eraseChoiceOf.

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "service/run_service.h"
#include "ui/model/erase_method_model.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QVBoxLayout;

namespace palvoro {

class CEraseMethodDlg : public QDialog {
  Q_OBJECT
 public:
  // Opens with the overwrite's form `mode` (0 quick, 1 full) and `operatorName`.
  CEraseMethodDlg(const EraseOffer& offer, int32_t mode, const std::string& operatorName, QWidget* parent = nullptr);

  // What the dialog's state comes to; the answer once exec() returned Accepted.
  [[nodiscard]] EraseChoice choice() const;

  const EraseMethodView& view() const { return m_view; }
  // The row's parts, in the order of view().rows; the reason is null for an offered method.
  QRadioButton* methodButton(size_t row) const { return m_rows.at(row).button; }
  QLabel* sentenceLabel(size_t row) const { return m_rows.at(row).sentence; }
  QLabel* whyLabel(size_t row) const { return m_rows.at(row).why; }
  QRadioButton* quickButton() const { return m_quick; }
  QRadioButton* fullButton() const { return m_full; }
  // Null when the drive hides nothing / has no Host Protected Area.
  QLabel* warningLabel() const { return m_warning; }
  QCheckBox* liftBox() const { return m_lift; }
  QCheckBox* restoreBox() const { return m_restore; }
  QLabel* hpaNote() const { return m_hpaNote; }
  QLineEdit* operatorEdit() const { return m_operator; }
  QPushButton* okButton() const { return m_ok; }
  QPushButton* cancelButton() const { return m_cancel; }

 private:
  struct RowWidgets {
    QRadioButton* button = nullptr;
    QLabel* sentence = nullptr;
    QLabel* why = nullptr;
  };

  void buildMethods(QVBoxLayout& layout, int32_t mode);
  void buildHiddenAreas(QVBoxLayout& layout);
  void buildOperator(QVBoxLayout& layout, const std::string& operatorName);
  QLabel* smallLabel(const std::string& text, int indent);
  PurgeMethod selectedMethod() const;
  // Enables what applies to the method chosen.
  void follow();

  EraseOffer m_offer;
  EraseMethodView m_view;
  std::vector<RowWidgets> m_rows;
  QButtonGroup* m_methods = nullptr;
  QRadioButton* m_quick = nullptr;
  QRadioButton* m_full = nullptr;
  QLabel* m_warning = nullptr;
  QCheckBox* m_lift = nullptr;
  QCheckBox* m_restore = nullptr;
  QLabel* m_hpaNote = nullptr;
  QLineEdit* m_operator = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace palvoro
