#include "ui/widgets/property_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <algorithm>
#include <cmath>

#include "ui/widgets/dialog_units.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

// The page template measures 252 x 218 units; the rows start 10 units down, 13 apart.
constexpr int kPageWidth = 252;
constexpr int kPageHeight = 218;
constexpr int kFirstRow = 10;
constexpr int kRowStep = 13;
constexpr int kCaptionLeft = 10;
constexpr int kCaptionWidth = 92;
constexpr int kValueLeft = 106;
constexpr int kValueWidth = 138;
// The hidden areas' line names two areas and their sizes: up to three lines.
constexpr int kHiddenAreasExtra = 16;

int rowTop(int field) {
  const int top = kFirstRow + field * kRowStep;
  return field > static_cast<int>(PropertyField::HiddenAreas) ? top + kHiddenAreasExtra : top;
}

constexpr const char* kCaptions[kPropertyFieldCount] = {
    "Drive:",           "Device Type:",          "Capacity:",
    "Firmware Revision:", "Health Status:",      "Device Serial Number:",
    "Hidden Areas:",
    "RAID Setting:",    "Drive A Serial Number:", "Drive B Serial Number:"};

bool isRaidRow(int field) { return field >= static_cast<int>(PropertyField::RaidSetting); }

}  // namespace

VolumeColumnWidths volumeColumnWidths(int clientWidth) {
  const int volume = clientWidth * 2 / 3;
  return {volume, clientWidth - volume};
}

CPropertyDlg::CPropertyDlg(Session& context, int drive, QWidget* parent) : QWidget(parent) {
  createControls();
  if (auto page = openPropertyPage(context.platform(), context.prompter(), context.driveTable(), drive)) {
    m_page = std::move(*page);
  }
  fill();
}

void CPropertyDlg::createControls() {
  QFont face = font();
  face.setPointSize(8);
  setFont(face);
  setFixedSize(duX(kPageWidth), duY(kPageHeight));
  for (int i = 0; i < kPropertyFieldCount; ++i) {
    const int y = rowTop(i);
    m_captions[i] = new QLabel(QString::fromLatin1(kCaptions[i]), this);
    m_captions[i]->setGeometry(du(kCaptionLeft, y, kCaptionWidth, 9));
    m_values[i] = new QLabel(this);
    m_values[i]->setTextFormat(Qt::PlainText);  // drive-reported text, never markup
    m_values[i]->setGeometry(du(kValueLeft, y, kValueWidth, 9));
    m_values[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  QLabel* hidden = m_values[static_cast<int>(PropertyField::HiddenAreas)];
  hidden->setWordWrap(true);
  hidden->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  hidden->resize(hidden->width(), duY(9 + kHiddenAreasExtra));
  const int volumesTop = rowTop(kPropertyFieldCount) + 2;
  auto* volumesCaption = new QLabel(QStringLiteral("Volume(s) contained on this drive:"), this);
  volumesCaption->setGeometry(du(kCaptionLeft, volumesTop, 200, 9));
  m_volumes = new CXListCtrl(this);
  m_volumes->setGeometry(du(kCaptionLeft, volumesTop + 11, kPageWidth - 2 * kCaptionLeft,
                            kPageHeight - volumesTop - 11 - 8));
  m_volumes->setFullRowSelect(true);
  m_volumes->setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void CPropertyDlg::fill() {
  const std::string* texts[kPropertyFieldCount] = {
      &m_page.drive,        &m_page.deviceType,   &m_page.capacity,
      &m_page.firmwareRevision, &m_page.healthStatus, &m_page.serialNumber,
      &m_page.hiddenAreas,
      &m_page.raidSetting,  &m_page.memberSerialA, &m_page.memberSerialB};
  for (int i = 0; i < kPropertyFieldCount; ++i) {
    m_values[i]->setText(QString::fromStdString(*texts[i]));
    if (isRaidRow(i)) {
      m_captions[i]->setVisible(m_page.raidRowsVisible);
      m_values[i]->setVisible(m_page.raidRowsVisible);
    }
  }
  fillVolumeList();
}

void CPropertyDlg::fillVolumeList() {
  const VolumeColumnWidths widths = volumeColumnWidths(m_volumes->contentsRect().width());
  m_volumes->insertColumn(0, QStringLiteral("Volume"), widths.volume);
  m_volumes->insertColumn(1, QStringLiteral("Capacity"), widths.capacity);
  m_volumes->deleteAllItems();
  for (size_t i = 0; i < m_page.volumes.size(); ++i) {
    const int row = m_volumes->insertItem(static_cast<int>(i), QString::fromStdString(m_page.volumes[i].text));
    m_volumes->setItemText(row, 1, QString::fromStdString(m_page.volumes[i].capacity));
  }
}

void CPropertyDlg::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The list's client width is final once it is laid out.
  const VolumeColumnWidths widths = volumeColumnWidths(m_volumes->viewport()->width());
  m_volumes->header()->resizeSection(0, widths.volume);
  m_volumes->header()->resizeSection(1, widths.capacity);
}

CPropertySheet::CPropertySheet(Session& context, int drive, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setModal(true);
  setWindowTitle(QString::fromStdString(propertySheetTitle(drive)));
  QFont face = font();
  face.setPointSize(8);
  setFont(face);

  m_tabs = new QTabWidget(this);
  m_page = new CPropertyDlg(context, drive);
  m_tabs->addTab(m_page, QStringLiteral("General"));
  const QSize tabsSize = m_tabs->sizeHint().expandedTo(m_page->size() + QSize(8, 32));
  m_tabs->setGeometry(duX(4), duY(4), tabsSize.width(), tabsSize.height());

  // A property sheet's buttons sit under the tabs at the right; Apply and Help are removed.
  const int buttonsTop = m_tabs->geometry().bottom() + duY(5);
  const int right = m_tabs->geometry().right();
  m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_cancel->setGeometry(right - duX(50) + 1, buttonsTop, duX(50), duY(14));
  m_ok = new QPushButton(QStringLiteral("OK"), this);
  m_ok->setGeometry(m_cancel->x() - duX(4) - duX(50), buttonsTop, duX(50), duY(14));
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(right + duX(4) + 1, buttonsTop + duY(14) + duY(5));
}

}  // namespace palvoro
