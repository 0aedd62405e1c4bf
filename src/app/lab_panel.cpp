#include "app/lab_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/sim/sim_platform.h"

namespace palvoro {

namespace {

const char* transportName(sim::Transport transport) {
  switch (transport) {
    case sim::Transport::Ata: return "ATA";
    case sim::Transport::UsbSat: return "USB, SAT";
    case sim::Transport::UsbAtacb: return "USB, vendor command block";
    case sim::Transport::FireWire: return "FireWire";
    case sim::Transport::Scsi: return "SCSI";
    case sim::Transport::Raid: return "RAID enclosure";
    case sim::Transport::Optical: return "optical";
    case sim::Transport::Nvme: return "NVMe";
  }
  return "?";
}

// The model text of IDENTIFY DEVICE words 27..46 (two characters a word, high byte first).
std::string identifyModel(const sim::IdentifyWords& words) {
  std::string model;
  for (int w = 27; w <= 46; ++w) {
    model += static_cast<char>(words[w] >> 8);
    model += static_cast<char>(words[w] & 0xFF);
  }
  while (!model.empty() && (model.back() == ' ' || model.back() == '\0')) model.pop_back();
  return model;
}

constexpr int kPanelGap = 12;  // pixels between the main window's frame and the panel's

}  // namespace

QPoint labPanelPosition(QRect mainFrame, QSize panelFrame, QRect available) {
  const int availableEnd = available.x() + available.width();
  const int right = mainFrame.x() + mainFrame.width() + kPanelGap;
  const int left = mainFrame.x() - kPanelGap - panelFrame.width();
  int x = availableEnd - panelFrame.width();
  if (right + panelFrame.width() <= availableEnd) {
    x = right;
  } else if (left >= available.x()) {
    x = left;
  }
  // Not std::clamp: a panel larger than the area puts its low bound above its high one.
  x = std::max(std::min(x, availableEnd - panelFrame.width()), available.x());
  const int y = std::max(std::min(mainFrame.y(), available.y() + available.height() - panelFrame.height()),
                         available.y());
  return QPoint(x, y);
}

std::string labDriveLabel(sim::SimPlatform& platform, int number) {
  const sim::SimDrive* drive = platform.machine().findDrive(number);
  if (drive == nullptr) return {};
  std::string label = "PhysicalDrive" + std::to_string(number);
  const auto unit = drive->ata.units.find(0);
  if (unit != drive->ata.units.end()) {
    const std::string model = identifyModel(unit->second.identify);
    if (!model.empty()) label += "  " + model;
  }
  return label + " (" + transportName(drive->transport) + ")";
}

LabPanel::LabPanel(sim::SimPlatform& platform, std::function<void()> deviceChanged, QWidget* parent)
    : QWidget(parent, Qt::Tool), m_platform(platform), m_deviceChanged(std::move(deviceChanged)) {
  setWindowTitle(QStringLiteral("PALVORO lab - %1").arg(QString::fromStdString(platform.machine().name)));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Plugged-in drives (clear a box to pull the drive out):"), this));
  // A bench of twenty drives would make the panel taller than the screen: the boxes scroll.
  auto* boxes = new QWidget;
  auto* boxLayout = new QVBoxLayout(boxes);
  boxLayout->setContentsMargins(0, 0, 0, 0);
  for (const sim::SimDrive& drive : platform.machine().drives) {
    auto* box = new QCheckBox(QString::fromStdString(labDriveLabel(platform, drive.number)), boxes);
    box->setObjectName(QStringLiteral("drive%1").arg(drive.number));
    box->setChecked(drive.present);
    const int number = drive.number;
    connect(box, &QCheckBox::toggled, this, [this, number](bool checked) { setDrivePresent(number, checked); });
    boxLayout->addWidget(box);
  }
  boxLayout->addStretch();
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(boxes);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  layout->addWidget(scroll);
  addAttributeRow(*layout);
}

void LabPanel::addAttributeRow(QVBoxLayout& layout) {
  // A drive going bad between two runs, for the history to tell: its sector counts are
  // set here, taking effect at the next SMART read.
  layout.addWidget(new QLabel(QStringLiteral("Set a SMART attribute's raw value:"), this));
  auto* row = new QHBoxLayout;
  auto* drives = new QComboBox(this);
  drives->setObjectName(QStringLiteral("attributeDrive"));
  for (const sim::SimDrive& drive : m_platform.machine().drives) {
    if (!drive.nvme && drive.ata.units.count(0) != 0) {
      drives->addItem(QString::fromStdString(labDriveLabel(m_platform, drive.number)), drive.number);
    }
  }
  auto* id = new QSpinBox(this);
  id->setObjectName(QStringLiteral("attributeId"));
  id->setRange(1, 255);
  id->setValue(197);
  id->setPrefix(QStringLiteral("ID "));
  auto* raw = new QSpinBox(this);
  raw->setObjectName(QStringLiteral("attributeRaw"));
  raw->setRange(0, 0x7FFFFFFF);
  auto* set = new QPushButton(QStringLiteral("Set"), this);
  set->setObjectName(QStringLiteral("attributeSet"));
  row->addWidget(drives, 1);
  row->addWidget(id);
  row->addWidget(raw);
  row->addWidget(set);
  layout.addLayout(row);
  m_attributeNote = new QLabel(this);
  m_attributeNote->setObjectName(QStringLiteral("attributeNote"));
  layout.addWidget(m_attributeNote);
  m_attributeDrive = drives;
  m_attributeId = id;
  m_attributeRaw = raw;
  connect(set, &QPushButton::clicked, this, &LabPanel::setAttributeOfChosenDrive);
}

void LabPanel::setAttributeOfChosenDrive() {
  const int number = m_attributeDrive->currentData().toInt();
  const int id = m_attributeId->value();
  const int raw = m_attributeRaw->value();
  const bool set = m_attributeDrive->count() > 0 && m_platform.setAttributeRaw(number, id, static_cast<uint64_t>(raw));
  m_attributeNote->setText(set ? QStringLiteral("PhysicalDrive%1: attribute %2 is now %3.").arg(number).arg(id).arg(raw)
                               : QStringLiteral("PhysicalDrive%1 takes no attribute %2.").arg(number).arg(id));
}

void LabPanel::setDrivePresent(int number, bool present) {
  // Only the GUI thread runs here, and no detection or test runs meanwhile: their modal
  // dialogs keep this window from taking input.
  sim::SimDrive* drive = m_platform.machine().findDrive(number);
  if (drive == nullptr || drive->present == present) return;
  m_platform.plug(number, present);
  if (m_deviceChanged) m_deviceChanged();
}

}  // namespace palvoro
