#pragma once
// The lab's own window: the simulated machine's drives with a check box each. Clearing a
// box pulls the drive out, setting it plugs the drive back in; either reaches the program
// as a device arrival or removal.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

class QComboBox;
class QLabel;
class QSpinBox;
class QVBoxLayout;
#include <functional>
#include <string>

namespace palvoro {

namespace sim {
class SimPlatform;
}

class LabPanel : public QWidget {
  Q_OBJECT

 public:
  // `deviceChanged` runs on the GUI thread after each plug or unplug.
  LabPanel(sim::SimPlatform& platform, std::function<void()> deviceChanged, QWidget* parent = nullptr);

  // Plugs (true) or unplugs drive `number` as its check box does.
  void setDrivePresent(int number, bool present);

  // Sets a SMART attribute's raw value of the drive chosen in the panel's attribute row, as
  // its Set button does; the row's note says what came of it.
  void setAttributeOfChosenDrive();

 private:
  void addAttributeRow(QVBoxLayout& layout);

  sim::SimPlatform& m_platform;
  std::function<void()> m_deviceChanged;
  QComboBox* m_attributeDrive = nullptr;
  QSpinBox* m_attributeId = nullptr;
  QSpinBox* m_attributeRaw = nullptr;
  QLabel* m_attributeNote = nullptr;
};

// Where the panel's frame goes beside the main window's frame `mainFrame`, on a screen
// whose usable area is `available`: right of the window when it fits there, else left of
// it, else over the window against the area's right edge; in every case moved inside the
// area (its top-left corner first when the panel is larger than the area).
QPoint labPanelPosition(QRect mainFrame, QSize panelFrame, QRect available);

// What the panel lists for a drive: "PhysicalDrive1  ST4000 (USB, SAT)".
std::string labDriveLabel(sim::SimPlatform& platform, int number);

}  // namespace palvoro
