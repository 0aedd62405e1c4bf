#include "ui/widgets/view_dialog.h"

#include <QFile>
#include <QResizeEvent>
#include <QShowEvent>
#include <QStyle>
#include <utility>

#include "ui/model/browser_html.h"
#include "ui/model/view_dialog_layout.h"

namespace palvoro {
namespace {

// The window's layout in pixels: 324 x 250 dialog units with the browser at 7,7 and
// 310 x 236, at the usual 8-point dialog font (a dialog unit is 1.5 pixels across and
// 1.625 pixels down).
constexpr int kDialogWidth = 486;
constexpr int kDialogHeight = 406;
constexpr int kBrowserLeft = 11;
constexpr int kBrowserTop = 11;
constexpr int kBrowserWidth = 465;
constexpr int kBrowserHeight = 384;

}  // namespace

CWebBrowser2::CWebBrowser2(QWidget* parent) : QTextBrowser(parent) {
  // Links to the maker's web site open in the desktop's browser; links inside a page
  // (the help page's contents) move within the view.
  setOpenExternalLinks(true);
}

void CWebBrowser2::Navigate(const std::string& address) {
  m_address = address;
  setSource(QUrl::fromLocalFile(QString::fromStdString(address)), QTextDocument::HtmlResource);
}

QVariant CWebBrowser2::loadResource(int type, const QUrl& name) {
  // A page that cannot be read shows as an empty page, the way a browser shows an address
  // it cannot load; QTextBrowser would otherwise complain on the console.
  if (name.isLocalFile() && !QFile::exists(name.toLocalFile())) {
    return type == QTextDocument::HtmlResource ? QVariant(QStringLiteral("<html><body></body></html>"))
                                               : QVariant();
  }
  QVariant resource = QTextBrowser::loadResource(type, name);
  if (type == QTextDocument::HtmlResource) {
    // Pages are plain 8-bit text; the colours are given the form Qt understands.
    const QString html = resource.userType() == QMetaType::QByteArray ? QString::fromUtf8(resource.toByteArray())
                                                                      : resource.toString();
    resource = QString::fromStdString(withHashedColours(html.toStdString()));
  }
  return resource;
}

CViewDlg::CViewDlg(std::string programDir, QWidget* parent)
    : QDialog(parent), m_programDir(std::move(programDir)) {
  setWindowTitle(QString::fromUtf8(kViewerDefaultTitle));
  // Caption with the window menu, maximise and close boxes; no buttons in the window:
  // it is closed with its close box or Esc.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  resize(kDialogWidth, kDialogHeight);
  m_browser = new CWebBrowser2(this);
  m_browser->setGeometry(kBrowserLeft, kBrowserTop, kBrowserWidth, kBrowserHeight);
}

void CViewDlg::initDialog() {
  setWindowIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
  if (!ViewerTitle.empty()) setWindowTitle(QString::fromStdString(ViewerTitle));
  if (!ViewerHtml.empty()) {
    m_browser->setSearchPaths({QString::fromStdString(m_programDir)});
    m_browser->setHtml(QString::fromStdString(withHashedColours(ViewerHtml)));
    return;
  }
  m_browser->Navigate(viewerAddress(m_programDir, ViewerFile));
}

void CViewDlg::showEvent(QShowEvent* event) {
  if (!m_initialised) {
    m_initialised = true;
    initDialog();
  }
  QDialog::showEvent(event);
}

void CViewDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (m_browser == nullptr) return;
  const ViewerRect rect = viewerBrowserRect(width(), height(), m_browser->geometry().top());
  m_browser->setGeometry(rect.left, rect.top, rect.width, rect.height);
  m_browser->update();
}

}  // namespace palvoro
