#include "ui/widgets/main_window.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <algorithm>
#include <optional>
#include <vector>

#include "ui/widgets/about_dialog.h"
#include "ui/widgets/bench_window.h"
#include "ui/widgets/detection_dialog.h"
#include "ui/widgets/scan_map_dialog.h"
#include "ui/widgets/drive_logs_dialog.h"
#include "ui/widgets/history_dialog.h"
#include "device/scsi_transport.h"
#include "ui/widgets/dialog_units.h"
#include "ui/widgets/option_dialog.h"
#include "ui/widgets/pictures.h"
#include "ui/widgets/property_dialog.h"
#include "ui/widgets/resize_adapter.h"
#include "ui/widgets/smart_dialog.h"
#include "ui/widgets/view_dialog.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

constexpr int kSmartStatusColumn = 4;  // the physical list's "SMART Status" column
constexpr int kHoverMargin = 4;  // the pictures react 4 pixels outside their edges

QColor toQColor(const std::optional<CellColour>& colour) {
  if (!colour) return QColor();  // the list's default
  return QColor(colour->red, colour->green, colour->blue);
}

Qt::Alignment toQt(ColumnAlignment alignment) {
  return alignment == ColumnAlignment::Centre ? Qt::AlignHCenter : Qt::AlignLeft;
}

QPixmap standardPixmap(QStyle::StandardPixmap which, int size) {
  return QApplication::style()->standardIcon(which).pixmap(size, size);
}

constexpr int kCaptionGap = 4;  // pixels between a text's end and the next item of its line
constexpr double kSmallestHintPoints = 5.5;  // below this the hint stops being readable
constexpr double kHintPointStep = 0.25;

// Lays out the line above the physical list (the caption, then the hint texts and the two
// pictures) in the fonts it is drawn with: the template's places were measured for a
// narrower 8-point face than the desktop gives, so the caption outgrew its box and the
// hint began over its end. Each text is as wide as it needs; an item keeps its template
// place unless the text before it reaches it, and then it and everything after it move
// right by as much. A line that would then pass
// `rightEdge` is packed, each item close after the one before, and its hint face made
// smaller step by step until it fits; the caption keeps its own.
void layOutCaptionLine(const std::vector<QLabel*>& items, int rightEdge) {
  std::vector<QRect> places;
  for (const QLabel* item : items) places.push_back(item->geometry());
  bool packed = false;
  for (;;) {
    int shift = 0;
    int end = places.front().x() - kCaptionGap;
    for (size_t i = 0; i < items.size(); ++i) {
      QRect place = places[i];
      const int x = packed ? end + kCaptionGap : std::max(place.x() + shift, end + kCaptionGap);
      shift = x - place.x();
      place.moveLeft(x);
      // A picture keeps its box; a text gets just its own width, so its box never
      // reaches the next item.
      if (!items[i]->text().isEmpty()) place.setWidth(items[i]->sizeHint().width());
      items[i]->setGeometry(place);
      end = place.x() + place.width();
    }
    if (end <= rightEdge) return;
    if (!packed) {
      packed = true;
      continue;
    }
    bool smaller = false;
    for (size_t i = 1; i < items.size(); ++i) {
      if (items[i]->text().isEmpty()) continue;
      QFont face = items[i]->font();
      if (face.pointSizeF() - kHintPointStep < kSmallestHintPoints) continue;
      face.setPointSizeF(face.pointSizeF() - kHintPointStep);
      items[i]->setFont(face);
      smaller = true;
    }
    if (!smaller) return;  // as small as it gets: the line runs on past the list's edge
  }
}

}  // namespace

// Opens the program's real dialogs over the window's context. The model has set
// selectedDrive to `drive` before each of them.
class CPalvoroDlg::DefaultOpener : public DialogOpener {
 public:
  DefaultOpener(Session& context, CPalvoroDlg* window) : m_context(context), m_window(window) {}
  bool openTestOptions(int drive) override {
    CDiskTestDlg options(m_context, drive, m_window);
    options.setProgressTiming(m_window->m_testTimerMilliseconds, m_window->m_testClock);
    options.setCertificateWriter(m_window->m_certificateWriter);
    options.exec();
    return options.testRan();
  }
  void openSmartWindow(int drive) override {
    CDiskAttrDlg smart(m_context, drive, m_window);
    smart.exec();
    // The verdict the window judged replaces the row's SMART Status cell.
    if (const std::optional<ListCell> cell = smart.mainListCell()) m_window->showSmartCell(drive, *cell);
  }
  void openProperties(int drive) override {
    CPropertySheet sheet(m_context, drive, m_window);
    sheet.exec();
  }
  void openHelp(const std::string& file) override {
    CViewDlg viewer(m_context.startup().helpDir, m_window);
    viewer.ViewerFile = file;
    viewer.ViewerTitle = "Help";
    viewer.exec();
  }
  void openScanMap(int drive) override {
    const BlockLatencyMap* map = m_context.scanMapOf(m_context.driveTable().records[drive]);
    if (map == nullptr) return;
    CScanMapDlg window(ScanMapModel(*map, m_context.driveTable().records[drive], drive + 1), m_window);
    window.exec();
  }
  void openDriveLogs(int drive) override { showDriveLogsOf(m_context, drive, m_window); }
  void openHistory(int drive) override { showHistoryOf(m_context, drive, m_window); }
  bool openBench() override {
    BenchWindow bench(m_context, m_window);
    bench.setCertificateWriter(m_window->m_benchCertificateWriter);
    bench.setTiming(std::chrono::milliseconds(m_window->m_testTimerMilliseconds), m_window->m_testClock);
    bench.exec();
    return bench.testRan();
  }
  void openAbout() override {
    CAboutDlg about(m_window, titleTexts(m_context.platform().productTitle()));
    about.exec();
  }

 private:
  Session& m_context;
  CPalvoroDlg* m_window;
};

CPalvoroDlg::CPalvoroDlg(Session& context, QWidget* parent)
    : CPalvoroDlg(context, static_cast<DialogOpener*>(nullptr), parent) {}

CPalvoroDlg::CPalvoroDlg(Session& context, DialogOpener* opener, QWidget* parent)
    : QDialog(parent), m_context(context) {
  if (opener == nullptr) {
    m_defaultOpener = std::make_unique<DefaultOpener>(context, this);
    opener = m_defaultOpener.get();
  }
  m_detectionRunner = [this] {
    DetectionDialog dialog(m_context, DetectionDialog::Mode::Rescan, this);
    dialog.run();
  };
  m_model = std::make_unique<MainWindowModel>(
      context, *opener,
      MainWindowModel::Hooks{[this] {
                               if (m_detectionRunner) m_detectionRunner();
                             },
                             [this] { showLists(); },
                             [this] {
                               raise();
                               activateWindow();
                             }});
  const TitleTexts texts = titleTexts(context.platform().productTitle());
  setWindowTitle(QString::fromStdString(texts.windowTitle));
  setWindowIcon(programIcon());
  createControls();
  setUpColumns();
  m_model->fillDriveLists();
  m_close->setFocus();
}

CPalvoroDlg::~CPalvoroDlg() { qApp->removeEventFilter(this); }

// Long on purpose: every control of the window with its place, in the template's order,
// so a control's geometry is found next to its neighbours'.
void CPalvoroDlg::createControls() {
  // The layout is measured for an 8-point face.
  QFont face = font();
  face.setPointSize(8);
  setFont(face);
  resize(duX(412), duY(270));

  m_banner = new QLabel(this);
  m_banner->setGeometry(du(6, 7, 341, 82));
  m_banner->setFrameStyle(QFrame::Box | QFrame::Plain);
  m_banner->setPixmap(bannerPicture(m_banner->contentsRect().size()));
  m_logo = new QLabel(this);
  m_logo->setGeometry(du(368, 16, 32, 30));
  m_logo->setPixmap(logoPicture(std::min(m_logo->width(), m_logo->height())));
  m_logo->setAlignment(Qt::AlignCenter);
  // The About item lives only on the banner's and the logo's right-click menu, which
  // nothing else on the window hints at.
  const QString aboutTip = QString::fromStdString(titleTexts(m_context.platform().productTitle()).aboutTip);
  m_banner->setToolTip(aboutTip);
  m_logo->setToolTip(aboutTip);

  m_close = new QPushButton("&Close", this);
  m_close->setGeometry(du(355, 51, 50, 14));
  m_close->setDefault(true);
  m_help = new QPushButton("&Help", this);
  m_help->setGeometry(du(355, 76, 50, 14));
  m_help->setAutoDefault(false);

  auto text = [this](const char* caption, int x, int y, int w) {
    auto* label = new QLabel(caption, this);
    label->setGeometry(du(x, y, w, 9));
    return label;
  };
  QLabel* physicalLabel = text("Physical Drive:", 6, 97, 50);
  // The hint line is drawn a little smaller than the window's face.
  const auto hint = [&text](const char* caption, int x, int w) {
    QLabel* label = text(caption, x, 97, w);
    QFont small = label->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    label->setFont(small);
    return label;
  };
  QLabel* hintSelect = hint("Highlight a physical drive. Click", 58, 98);
  m_runTests = new QLabel(this);
  m_runTests->setGeometry(du(157, 98, 11, 9));
  QLabel* hintTests = hint("to run tests or click", 170, 60);
  m_smart = new QLabel(this);
  m_smart->setGeometry(du(231, 97, 11, 9));
  QLabel* hintSmart = hint("to view SMART data. Right-click for more options.", 243, 162);
  m_runTestsNormal = palvoro::runTestsPicture(false);
  m_runTestsHoverPicture = palvoro::runTestsPicture(true);
  m_smartNormal = palvoro::smartPicture(false);
  m_smartHoverPicture = palvoro::smartPicture(true);
  m_runTests->setPixmap(m_runTestsNormal);
  m_smart->setPixmap(m_smartNormal);
  // The list's right edge ends the line.
  layOutCaptionLine({physicalLabel, hintSelect, m_runTests, hintTests, m_smart, hintSmart}, duX(405));
  m_runTests->setCursor(Qt::PointingHandCursor);
  m_smart->setCursor(Qt::PointingHandCursor);

  m_physical = new CXListCtrl(this);
  m_physical->setGeometry(du(6, 108, 399, 69));
  m_physical->setFullRowSelect(true);
  m_physical->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_physical->setImageList(driveImageStrip(), QSize(kDriveImageSize, kDriveImageSize));
  m_logicalLabel = text("Logical Drive:", 6, 183, 60);
  // Whole in a wider face too; nothing stands beside it.
  m_logicalLabel->resize(std::max(m_logicalLabel->width(), m_logicalLabel->sizeHint().width()),
                         m_logicalLabel->height());
  m_logical = new CXListCtrl(this);
  m_logical->setGeometry(du(6, 194, 399, 70));
  m_logical->setFullRowSelect(true);
  m_logical->setHighlightSelection(false);
  m_logical->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_logical->setImageList(QList<QPixmap>{standardPixmap(QStyle::SP_DriveHDIcon, 16)});
  // Tab order: Close, the physical list, Help; the logical list only takes a click.
  m_logical->setFocusPolicy(Qt::ClickFocus);
  setTabOrder(m_close, m_physical);
  setTabOrder(m_physical, m_help);

  m_resize = std::make_unique<ResizeAdapter>(this);
  m_resize->add(m_physical, 0, 0, 100, 50);
  m_resize->add(m_logical, 0, 50, 100, 50);
  m_resize->add(m_logicalLabel, 0, 50, 0, 0);
  for (QWidget* control : {static_cast<QWidget*>(m_close), static_cast<QWidget*>(m_help),
                           static_cast<QWidget*>(m_logo)}) {
    m_resize->add(control, 50, 0, 0, 0);
  }
  m_resize->setMinimumTrackingSize();
  m_resize->showGrip(true);

  connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_help, &QPushButton::clicked, this, [this] { m_model->onHelp(); });
  connect(m_physical, &CXListCtrl::rowClicked, this,
          [this](int row, int column) { m_model->onLeftClick(row, column); });
  connect(m_physical, &CXListCtrl::rowDoubleClicked, this,
          [this](int row, int) { m_model->onDoubleClick(row); });
  connect(m_physical, &CXListCtrl::rightClicked, this,
          [this](int row, int, QPoint globalPos) { showRowMenu(row, globalPos); });
  auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
  connect(f5, &QShortcut::activated, this, &CPalvoroDlg::rescanDrives);

  for (QLabel* picture : {m_runTests, m_smart, m_banner, m_logo}) picture->installEventFilter(this);
  m_physical->installEventFilter(this);
  setMouseTracking(true);
  for (QWidget* child : findChildren<QWidget*>()) child->setMouseTracking(true);
  qApp->installEventFilter(this);
}

void CPalvoroDlg::setUpColumns() {
  const int width = m_physical->width() - 2 * m_physical->frameWidth();
  int index = 0;
  for (const ListColumn& column : physicalDriveColumns(width)) {
    m_physical->insertColumn(index++, QString::fromStdString(column.caption), column.width,
                             toQt(column.alignment));
  }
  index = 0;
  for (const ListColumn& column : logicalDriveColumns(width)) {
    m_logical->insertColumn(index++, QString::fromStdString(column.caption), column.width,
                            toQt(column.alignment));
  }
}

// Shows the rows the model computed.
void CPalvoroDlg::showLists() {
  auto show = [](CXListCtrl* list, const std::vector<ListRow>& rows) {
    list->deleteAllItems();
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
      const ListRow& row = rows[r];
      list->insertItem(r, QString::fromStdString(row[0].text), row[0].image);
      for (int c = 0; c < static_cast<int>(row.size()); ++c) {
        const ListCell& cell = row[c];
        list->setItemText(r, c, QString::fromStdString(cell.text));
        list->setItemImage(r, c, cell.image);
        list->setItemColours(r, c, toQColor(cell.colour), QColor());
        list->setItemTooltip(r, c, QString::fromStdString(cell.tooltip));
      }
    }
  };
  show(m_physical, m_model->physicalRows());
  show(m_logical, m_model->logicalRows());
}

void CPalvoroDlg::showSmartCell(int row, const ListCell& cell) {
  if (row < 0 || row >= m_physical->itemCount()) return;
  m_physical->setItemText(row, kSmartStatusColumn, QString::fromStdString(cell.text));
  m_physical->setItemImage(row, kSmartStatusColumn, cell.image);
  m_physical->setItemColours(row, kSmartStatusColumn, toQColor(cell.colour), QColor());
  if (!cell.tooltip.empty()) m_physical->setItemTooltip(row, kSmartStatusColumn, QString::fromStdString(cell.tooltip));
}

void CPalvoroDlg::onDeviceChange() { m_model->onDeviceChange(kDeviceArrival); }

void CPalvoroDlg::rescanDrives() { m_model->rescanDrives(); }

bool CPalvoroDlg::physicalHasFocus() const { return focusWidget() == m_physical; }

void CPalvoroDlg::showAboutMenu(const QPoint& globalPos) {
  QMenu menu(this);
  const std::string item = titleTexts(m_context.platform().productTitle()).aboutItem;
  connect(menu.addAction(QString::fromStdString(item)), &QAction::triggered, this, [this] { m_model->onAbout(); });
  menu.exec(globalPos);
}

void CPalvoroDlg::showRowMenu(int row, const QPoint& globalPos) {
  const std::vector<MenuEntry> entries = m_model->contextMenu(row);
  if (entries.empty()) return;
  QMenu menu(this);
  for (const MenuEntry& entry : entries) {
    if (entry.command == MenuCommand::Separator) {
      menu.addSeparator();
      continue;
    }
    const MenuCommand command = entry.command;
    connect(menu.addAction(QString::fromStdString(entry.text)), &QAction::triggered, this,
            [this, command, row] { m_model->runMenuCommand(command, row); });
  }
  raise();
  activateWindow();
  menu.exec(globalPos);
}

void CPalvoroDlg::updateHover(const QPoint& clientPos) {
  auto track = [&clientPos](QLabel* picture, bool& hover, const QPixmap& normal,
                            const QPixmap& hoverPicture) {
    const bool inside = picture->geometry()
                            .adjusted(-kHoverMargin, -kHoverMargin, kHoverMargin, kHoverMargin)
                            .contains(clientPos);
    if (inside == hover) return;  // nothing reloaded while the state stays
    hover = inside;
    picture->setPixmap(inside ? hoverPicture : normal);
  };
  track(m_runTests, m_runTestsHover, m_runTestsNormal, m_runTestsHoverPicture);
  track(m_smart, m_smartHover, m_smartNormal, m_smartHoverPicture);
}

bool CPalvoroDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this) {
      auto* move = static_cast<QMouseEvent*>(event);
      updateHover(mapFromGlobal(move->globalPosition().toPoint()));
    }
    return false;
  }
  if (watched == m_runTests || watched == m_smart) {
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      if (watched == m_runTests) {
        m_model->onRunTestsIcon(physicalHasFocus(), m_physical->selectedRow());
      } else {
        m_model->onSmartIcon(physicalHasFocus(), m_physical->selectedRow());
      }
      return true;
    }
    return false;
  }
  if ((watched == m_banner || watched == m_logo) && event->type() == QEvent::ContextMenu) {
    showAboutMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
  }
  if (watched == m_physical && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool runKey = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                        key->key() == Qt::Key_Space;
    const int row = m_physical->selectedRow();
    if (runKey && row >= 0 && row < m_context.driveTable().driveCount()) {
      // The list sees the key first (without passing it on to the window, where Enter
      // would press Close); then the flow runs and the key is consumed.
      QKeyEvent copy(key->type(), key->key(), key->modifiers(), key->text());
      static_cast<QObject*>(m_physical)->event(&copy);
      m_model->onEnterOrSpace(physicalHasFocus(), row);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace palvoro
