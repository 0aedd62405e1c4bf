#pragma once
// The lab's own window: the simulated machine's drives with a check box each. Clearing a
// box pulls the drive out, setting it plugs the drive back in; either reaches the program
// as a device arrival or removal.

#include <QWidget>
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

 private:
  sim::SimPlatform& m_platform;
  std::function<void()> m_deviceChanged;
};

// What the panel lists for a drive: "PhysicalDrive1  ST4000 (USB, SAT)".
std::string labDriveLabel(sim::SimPlatform& platform, int number);

}  // namespace palvoro
