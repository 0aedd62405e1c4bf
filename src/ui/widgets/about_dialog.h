#pragma once
// CAboutDlg: the modal About box with the program icon, the product title and the
// program's version ("%d.%d.%d" from the compiled-in version, resources/version.h).

#include <QDialog>

#include "platform/prompter.h"
#include "ui/model/main_window_model.h"

class QLabel;
class QPushButton;

namespace palvoro {

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  // `texts` carry the product's title (the Windows-shaped machine's by default).
  explicit CAboutDlg(QWidget* parent = nullptr, const TitleTexts& texts = titleTexts(kProductCaption));

  QLabel* versionField() const { return m_version; }
  QPushButton* okButton() const { return m_ok; }

 private:
  QLabel* m_version = nullptr;
  QPushButton* m_ok = nullptr;
};

}  // namespace palvoro
