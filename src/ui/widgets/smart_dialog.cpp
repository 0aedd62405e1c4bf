#include "ui/widgets/smart_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "ui/widgets/dialog_parts.h"
#include "ui/widgets/dialog_units.h"
#include "ui/widgets/pictures.h"
#include "ui/widgets/view_dialog.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

QColor toQColor(const std::optional<CellColour>& colour) {
  return colour ? QColor(colour->red, colour->green, colour->blue) : QColor();
}

}  // namespace

CDiskAttrDlg::CDiskAttrDlg(Session& context, int driveIndex, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_context(context),
      m_model(context, driveIndex) {
  setWindowTitle(QStringLiteral("SMART Drive Information"));
  setModal(true);
  createControls();
  setUpList();
  m_driveLabel->setText(QString::fromStdString(m_model.driveLabel()));
  m_memberBox->setVisible(m_model.memberBoxShown());
  // The identity line starts after the label and runs to the member box, or to the
  // list's right edge when the box is hidden.
  m_driveLabel->resize(std::max(m_driveLabel->width(), m_driveLabel->sizeHint().width()), m_driveLabel->height());
  const int identityLeft = m_driveLabel->geometry().right() + duX(4);
  const int identityRight = m_model.memberBoxShown() ? m_memberBox->x() - duX(4) : m_list->geometry().right();
  m_identity->setGeometry(identityLeft, m_identity->y(), identityRight - identityLeft, m_identity->height());
  m_memberBox->setCurrentIndex(0);
  connect(m_memberBox, &QComboBox::currentIndexChanged, this, &CDiskAttrDlg::onMemberChanged);
  fillFrom(0);
}

CDiskAttrDlg::~CDiskAttrDlg() = default;

void CDiskAttrDlg::createControls() {
  const QIcon information = QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
  setWindowIcon(information);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon%1").arg(kIdcSmartIcon));
  icon->setPixmap(information.pixmap(32, 32));
  icon->setGeometry(duX(7), duY(7), 32, 32);

  auto* intro = new QLabel(QString::fromLatin1(m_model.introText()), this);
  intro->setWordWrap(true);
  intro->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  intro->setGeometry(duX(35), duY(4), duX(282), duY(38));

  // Drive-reported text is shown as it came, never as markup.
  m_driveLabel = plainTextLabel(QString(), this);
  m_driveLabel->setGeometry(duX(7), duY(46), duX(55), duY(10));

  m_identity = plainTextLabel(QString(), this);
  m_identity->setGeometry(duX(65), duY(46), duX(165), duY(10));

  m_memberBox = new QComboBox(this);
  for (const char* name : kRaidMemberNames) m_memberBox->addItem(QString::fromLatin1(name));
  m_memberBox->setGeometry(duX(235), duY(43), duX(80), duY(14));

  m_list = new CXListCtrl(this);
  m_list->setGeometry(duX(7), duY(60), duX(308), duY(146));

  m_help = new QPushButton(QStringLiteral("Help"), this);
  m_help->setGeometry(duX(210), duY(212), duX(50), duY(14));
  m_help->setAutoDefault(false);
  connect(m_help, &QPushButton::clicked, this, &CDiskAttrDlg::onHelp);

  m_ok = new QPushButton(QStringLiteral("OK"), this);
  m_ok->setGeometry(duX(265), duY(212), duX(50), duY(14));
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

  setFixedSize(duX(322), duY(233));
  m_ok->setFocus();
}

void CDiskAttrDlg::setUpList() {
  m_list->setFullRowSelect(true);
  m_list->setImageList(smartRowImageStrip(), QSize(kDriveImageSize, kDriveImageSize));
  const int clientWidth = m_list->width() - 2 * m_list->frameWidth();
  int column = 0;
  for (const SmartListColumn& shape : m_model.columns(clientWidth)) {
    m_list->insertColumn(column++, QString::fromStdString(shape.caption), shape.width, Qt::AlignHCenter);
  }
}

void CDiskAttrDlg::fillFrom(int memberIndex) {
  if (m_model.fill(memberIndex) == SmartFillOutcome::DriverNotOpened) return;
  m_identity->setText(QString::fromStdString(m_model.identityLine()));
  showRows();
}

void CDiskAttrDlg::showRows() {
  const std::vector<SmartListColumn> columns = m_model.columns(0);
  m_list->deleteAllItems();
  int row = 0;
  for (const SmartAttributeRow& attribute : m_model.rows()) {
    m_list->insertItem(row, QString::fromStdString(attribute.cells[0]), attribute.image);
    for (int column = 1; column < static_cast<int>(attribute.cells.size()); ++column) {
      m_list->setItemText(row, column, QString::fromStdString(attribute.cells[column]));
    }
    m_list->setItemColours(row, attribute.valueColumn, toQColor(attribute.valueColour), QColor());
    for (int column = 0; column < static_cast<int>(columns.size()); ++column) {
      if (!columns[column].tooltip.empty()) {
        m_list->setItemTooltip(row, column, QString::fromStdString(columns[column].tooltip));
      }
    }
    ++row;
  }
}

void CDiskAttrDlg::onMemberChanged(int index) { fillFrom(index); }

void CDiskAttrDlg::onHelp() {
  CViewDlg viewer(m_context.startup().helpDir, this);
  viewer.ViewerFile = kSmartHelpFile;
  viewer.ViewerTitle = kSmartHelpTitle;
  viewer.exec();
}

}  // namespace palvoro
