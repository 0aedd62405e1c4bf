#pragma once
// The HTML viewer: a modal window that shows one page from the program's folder (the help
// page, the SMART help page, the result page), with the browser view it hosts.

#include <QDialog>
#include <QTextBrowser>
#include <string>

namespace palvoro {

// The browser view. Of a web browser the program uses only Navigate; a QTextBrowser loads a
// local HTML file and the pictures it names relative to that file.
class CWebBrowser2 : public QTextBrowser {
  Q_OBJECT

 public:
  explicit CWebBrowser2(QWidget* parent = nullptr);

  // Loads the file at `address` (a plain file-system path). A missing or unreadable file
  // leaves an empty page; nothing is reported.
  void Navigate(const std::string& address);
  // The address given to the last Navigate, empty before the first.
  const std::string& address() const { return m_address; }

 protected:
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  std::string m_address;
};

// The viewer window ("View File" until a title is given). The caller sets ViewerFile and
// ViewerTitle and runs it with exec(); the page is loaded when the window opens.
class CViewDlg : public QDialog {
  Q_OBJECT

 public:
  // `programDir` is the program's folder with its trailing separator.
  explicit CViewDlg(std::string programDir, QWidget* parent = nullptr);

  std::string ViewerFile;   // file name inside programDir
  std::string ViewerTitle;  // window title; empty keeps "View File"
  // A page given as its text (one drive's result block), shown instead of ViewerFile; its
  // pictures are still looked up in programDir.
  std::string ViewerHtml;

  CWebBrowser2* browser() const { return m_browser; }

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Icon, title and navigation, done once when the window first opens.
  void initDialog();

  std::string m_programDir;
  CWebBrowser2* m_browser = nullptr;
  bool m_initialised = false;
};

}  // namespace palvoro
