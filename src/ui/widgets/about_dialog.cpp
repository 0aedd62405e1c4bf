#include "ui/widgets/about_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cmath>

#include "resources/version.h"
#include "ui/widgets/dialog_units.h"
#include "ui/widgets/pictures.h"

namespace palvoro {
CAboutDlg::CAboutDlg(QWidget* parent, const TitleTexts& texts)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QString::fromStdString(texts.aboutTitle));
  setModal(true);

  auto* icon = new QLabel(this);
  icon->setPixmap(programIcon().pixmap(32, 32));
  icon->setGeometry(duX(11), duY(17), 32, 32);

  auto* title = new QLabel(QString::fromStdString(texts.versionLabel), this);
  title->move(duX(40), duY(15));
  title->resize(std::max(duX(100), title->sizeHint().width()), duY(14));
  title->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  // The template's text is replaced as the box opens.
  m_version = new QLabel(QStringLiteral("x.xx"), this);
  m_version->setObjectName(QStringLiteral("versionField"));
  m_version->setText(QString::fromStdString(aboutVersionText()));
  const int versionLeft = std::max(duX(145), title->geometry().right() + 6);
  m_version->setGeometry(versionLeft, duY(15),
                         std::max(duX(38), m_version->sizeHint().width()),
                         std::max(duY(8), m_version->sizeHint().height()));
  m_version->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  m_ok = new QPushButton(QStringLiteral("OK"), this);
  m_ok->setDefault(true);
  m_ok->setAutoDefault(true);
  const int okLeft = std::max(duX(215), m_version->geometry().right() + 12);
  m_ok->setGeometry(okLeft, duY(7), duX(50), duY(14));
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

  setFixedSize(std::max(duX(272), okLeft + duX(50) + duX(7)), duY(57));
  m_ok->setFocus();
}

}  // namespace palvoro
