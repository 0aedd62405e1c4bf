#pragma once
// The erase choice dialogs the option dialog shows before an erase. Both leave the
// answer in the run's EraseMode (0 quick erase, 1 full erase), which keeps its value
// from one erase to the next while the program runs.
//   CEraseDLg       "ERASE": QUICK ERASE or FULL ERASE, opening with the previous choice.
//   CQuickEraseDLg  "QUICK ERASE": confirms the quick erase, the only one offered.
// exec() returns Accepted on OK; Cancel, Escape and the close box leave EraseMode alone.

#include <QDialog>
#include <atomic>
#include <cstdint>

class QLabel;
class QPushButton;
class QRadioButton;

namespace palvoro {

class CEraseDLg : public QDialog {
  Q_OBJECT
 public:
  explicit CEraseDLg(std::atomic<int32_t>& eraseMode, QWidget* parent = nullptr);

  QRadioButton* quickButton() const { return m_quick; }
  QRadioButton* fullButton() const { return m_full; }
  QPushButton* okButton() const { return m_ok; }
  QPushButton* cancelButton() const { return m_cancel; }

  void accept() override;

 private:
  std::atomic<int32_t>& m_eraseMode;
  QRadioButton* m_quick = nullptr;
  QRadioButton* m_full = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

class CQuickEraseDLg : public QDialog {
  Q_OBJECT
 public:
  explicit CQuickEraseDLg(std::atomic<int32_t>& eraseMode, QWidget* parent = nullptr);

  QLabel* text() const { return m_text; }
  QPushButton* okButton() const { return m_ok; }
  QPushButton* cancelButton() const { return m_cancel; }

  void accept() override;

 private:
  std::atomic<int32_t>& m_eraseMode;
  QLabel* m_text = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace palvoro
