#pragma once
// The SMART Drive Information window for the selected drive: the identity line, one list
// row per SMART attribute, the RAID member box, Help and OK. It shows what
// SmartWindowModel computes; the model reads the drive and writes the verdict into the
// drive table. After exec() the main window asks verdict() / mainListCell() for the row.

#include <QDialog>
#include <optional>

#include "service/session.h"
#include "service/smart_window_model.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace palvoro {

class CXListCtrl;

// Control ids of the window.
enum SmartDialogControl : int {
  kIdcSmartList = 1005,      // the attribute list
  kIdcSmartDriveLabel = 1006,
  kIdcSmartHelp = 1049,
  kIdcSmartIcon = 1050,
  kIdcSmartIdentity = 1051,
  kIdcSmartMemberBox = 1064,
};

class CDiskAttrDlg : public QDialog {
  Q_OBJECT
 public:
  // Reads the context's selected drive as it is built (the first fill).
  // The window of the drive at row `driveIndex` of the table.
  CDiskAttrDlg(Session& context, int driveIndex, QWidget* parent = nullptr);
  ~CDiskAttrDlg() override;

  // The verdict of the last fill that read the drive; none when no fill did.
  std::optional<SmartVerdict> verdict() const { return m_model.verdict(); }
  // The main list's SMART cell the fills left (" PASS"/" FAIL", image, colour); none when
  // the row stays as it was.
  std::optional<ListCell> mainListCell() const { return m_model.mainListCell(); }

  SmartWindowModel& model() { return m_model; }
  CXListCtrl* attributeList() const { return m_list; }
  QLabel* driveLabel() const { return m_driveLabel; }
  QLabel* identityLine() const { return m_identity; }
  QComboBox* memberBox() const { return m_memberBox; }
  QPushButton* helpButton() const { return m_help; }
  QPushButton* okButton() const { return m_ok; }

 private slots:
  void onMemberChanged(int index);
  void onHelp();

 private:
  void createControls();
  void setUpList();
  // Fills the model for the member box's item and shows the result.
  void fillFrom(int memberIndex);
  void showRows();

  Session& m_context;
  SmartWindowModel m_model;
  CXListCtrl* m_list = nullptr;
  QLabel* m_driveLabel = nullptr;
  QLabel* m_identity = nullptr;
  QComboBox* m_memberBox = nullptr;
  QPushButton* m_help = nullptr;
  QPushButton* m_ok = nullptr;
};

}  // namespace palvoro
