#pragma once
// CAboutDlg: the modal About box with the program icon, the product title and the
// program's version ("%d.%d.%d" from the compiled-in version, ui/model/version.h).

#include <QDialog>

class QLabel;
class QPushButton;

namespace palvoro {

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  QLabel* versionField() const { return m_version; }
  QPushButton* okButton() const { return m_ok; }

 private:
  QLabel* m_version = nullptr;
  QPushButton* m_ok = nullptr;
};

}  // namespace palvoro
