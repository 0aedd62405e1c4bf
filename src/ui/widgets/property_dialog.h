#pragma once
// The drive property page ("General", template 134) and the property sheet that shows it
// alone, titled "Drive N Properties", with OK and Cancel only (no Apply, no Help). The page
// runs its opening flow (the enclosure's RAID status, string 124 when the status
// interface will not open, every drive's volume letters) through openPropertyPage and
// shows the texts it computed.

#include <QDialog>
#include <QWidget>
#include <array>

#include "service/session.h"
#include "discovery/property_page.h"

class QLabel;
class QPushButton;
class QTabWidget;

namespace palvoro {

class CXListCtrl;

// The rows of the page, in their order from the top.
enum class PropertyField {
  Drive,
  DeviceType,
  Capacity,
  FirmwareRevision,
  HealthStatus,
  SerialNumber,
  HiddenAreas,         // two lines: the HPA and the DCO
  RaidSetting,         // enclosure only
  DriveASerialNumber,  // enclosure only
  DriveBSerialNumber,  // enclosure only
};
inline constexpr int kPropertyFieldCount = 10;

// The Volumes list's column widths for a list client width: "Volume" two thirds, "Capacity"
// the rest.
struct VolumeColumnWidths {
  int volume = 0;
  int capacity = 0;
};
VolumeColumnWidths volumeColumnWidths(int clientWidth);

class CPropertyDlg : public QWidget {
  Q_OBJECT
 public:
  // Runs the opening flow for table index `drive` of the context (messages go to the
  // context's prompter) and fills the page. An index outside the table leaves it empty.
  CPropertyDlg(Session& context, int drive, QWidget* parent = nullptr);

  // What the page shows; empty when the index was outside the table.
  const PropertyPage& page() const { return m_page; }
  QLabel* caption(PropertyField field) const { return m_captions[static_cast<size_t>(field)]; }
  QLabel* value(PropertyField field) const { return m_values[static_cast<size_t>(field)]; }
  CXListCtrl* volumeList() const { return m_volumes; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void createControls();
  void fill();
  void fillVolumeList();

  PropertyPage m_page;
  std::array<QLabel*, kPropertyFieldCount> m_captions{};
  std::array<QLabel*, kPropertyFieldCount> m_values{};
  CXListCtrl* m_volumes = nullptr;
};

// The modal sheet holding the one page.
class CPropertySheet : public QDialog {
  Q_OBJECT
 public:
  CPropertySheet(Session& context, int drive, QWidget* parent = nullptr);

  CPropertyDlg* generalPage() const { return m_page; }
  QTabWidget* tabs() const { return m_tabs; }
  QPushButton* okButton() const { return m_ok; }
  QPushButton* cancelButton() const { return m_cancel; }

 private:
  CPropertyDlg* m_page = nullptr;
  QTabWidget* m_tabs = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace palvoro
