#include "results/pdf/certificate_pdf.h"

#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QFontMetrics>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace palvoro {
namespace {

// Longest texts drawn, in characters, before they are cut to their box: a device or user
// text of hundreds of characters must not push the rest of the page off.
constexpr int kLongestValue = 120;
constexpr int kLongestSentence = 400;
// Drawn at 300 dots per inch: fine enough for the lines, small enough for the file.
constexpr int kResolution = 300;
// Where the values stand, in device units from the margin (55 mm): right of the longest label.
constexpr int kValueColumn = static_cast<int>(55 * kResolution / 25.4);

std::mutex& drawingMutex() {
  static std::mutex mutex;
  return mutex;
}

// A device's or user's text as plain characters: not UTF-8 becomes U+FFFD (QString's
// decoding), control and format characters (line breaks, direction overrides) become a
// space, and a text longer than `longest` is cut with an ellipsis.
QString plain(const std::string& text, int longest = kLongestValue) {
  const QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  QString cleaned;
  for (const QChar c : decoded) {
    const QChar::Category category = c.category();
    const bool control = category == QChar::Other_Control || category == QChar::Other_Format ||
                         category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
    cleaned.append(control ? QChar(u' ') : c);
  }
  if (cleaned.size() > longest) {
    qsizetype cut = longest - 1;
    if (cleaned.at(cut - 1).isHighSurrogate()) --cut;
    cleaned = cleaned.left(cut) + QChar(0x2026);
  }
  return cleaned;
}

QString yesNoSectors(bool known, uint64_t sectors) {
  if (!known) return QStringLiteral("not known");
  if (sectors == 0) return QStringLiteral("none");
  return QString::number(sectors) + QStringLiteral(" sectors");
}

QString capacityText(uint64_t bytes) {
  // Decimal units, as drives are sold, beside the exact count.
  const bool tera = bytes >= 1000000000000ull;
  return QString::number(static_cast<double>(bytes) / (tera ? 1e12 : 1e9), 'f', 1) +
         (tera ? QStringLiteral(" TB (") : QStringLiteral(" GB (")) + QString::number(bytes) +
         QStringLiteral(" bytes)");
}

QColor outcomeColour(const std::string& outcome) {
  if (outcome == "COMPLETE") return QColor(0x1b, 0x7f, 0x3b);
  if (outcome == "FAIL") return QColor(0xc6, 0x28, 0x28);
  return QColor(0xd0, 0x6a, 0x00);
}

// What each category of sanitization promises, in the words of NIST SP 800-88's
// definitions, so the reader of the page need not look them up.
QString categorySentence(const std::string& category) {
  if (category == "Purge") {
    return QStringLiteral("Purge (NIST SP 800-88): the data cannot be recovered even with state-of-the-art "
                          "laboratory techniques.");
  }
  if (category == "Clear") {
    return QStringLiteral("Clear (NIST SP 800-88): every user-addressable location was sanitized, against "
                          "recovery by simple, non-invasive techniques.");
  }
  if (category == "None") {
    return QStringLiteral("None: the quick overwrite writes the first and the last part of the drive only; the rest "
                          "keeps what it held.");
  }
  return plain(category);
}

// One page being drawn: a cursor running down it, in device units, with the helpers for
// each kind of line.
class Page {
 public:
  explicit Page(QPdfWriter& writer) : m_writer(writer), m_painter(&writer) {
    m_unitsPerMm = kResolution / 25.4;
    m_left = mm(18);
    m_right = writer.width() - mm(18);
    m_bottom = writer.height() - mm(16);
    m_y = mm(18);
  }
  bool active() const { return m_painter.isActive(); }
  int mm(double millimetres) const { return static_cast<int>(millimetres * m_unitsPerMm); }
  int y() const { return m_y; }
  void setY(int y) { m_y = y; }
  int left() const { return m_left; }
  int width() const { return m_right - m_left; }
  bool fits(double millimetres) const { return m_y + mm(millimetres) <= m_bottom; }
  QPainter& painter() { return m_painter; }

  void newPage() {
    m_writer.newPage();
    m_y = mm(18);
  }
  void skip(double millimetres) { m_y += mm(millimetres); }
  void setFont(double points, bool bold = false, bool mono = false) {
    // A fixed font for key fingerprints: hex in columns, and no ligature ("ff", "fi")
    // joining two of its digits into one glyph.
    QFont font(mono ? QStringLiteral("DejaVu Sans Mono") : QStringLiteral("DejaVu Sans"));
    font.setStyleHint(mono ? QFont::Monospace : QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    m_painter.setFont(font);
  }
  // One line at `x`, cut with an ellipsis to `width`; moves the cursor down by its height.
  void line(const QString& text, int x, int width, double points, bool bold = false, QColor colour = Qt::black,
            bool mono = false) {
    setFont(points, bold, mono);
    m_painter.setPen(colour);
    const QFontMetrics metrics(m_painter.font(), &m_writer);
    const QString shown = metrics.elidedText(text, Qt::ElideRight, width);
    m_painter.drawText(QRect(x, m_y, width, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
    m_y += metrics.height();
  }
  void heading(const QString& text) {
    skip(3);
    line(text, m_left, width(), 11.5, true, QColor(0x20, 0x3a, 0x60));
    m_painter.setPen(QPen(QColor(0x20, 0x3a, 0x60), mm(0.3)));
    m_painter.drawLine(m_left, m_y, m_right, m_y);
    skip(1.2);
  }
  // A label and its value on one line, the values lined up in a column.
  void row(const QString& label, const QString& value, bool mono = false) {
    const int top = m_y;
    line(label, m_left, kValueColumn - mm(2), 10, false, QColor(0x55, 0x55, 0x55));
    m_y = top;
    line(value, m_left + kValueColumn, width() - kValueColumn, 10, false, Qt::black, mono);
    m_y += mm(0.6);
  }
  // A sentence wrapped over at most `lines` lines, cut where it does not fit; drawn
  // under the values when `indent` says so.
  void paragraph(const QString& text, int lines, double points = 10, int indent = kValueColumn) {
    setFont(points);
    m_painter.setPen(Qt::black);
    const QFontMetrics metrics(m_painter.font(), &m_writer);
    const QRect box(m_left + indent, m_y, width() - indent, metrics.lineSpacing() * lines + metrics.descent());
    // Words are kept whole; a "word" longer than the line (a device's text without
    // spaces) is broken anywhere rather than run off the page.
    int flags = Qt::TextWordWrap;
    if (metrics.boundingRect(box, flags, text).width() > box.width()) flags |= Qt::TextWrapAnywhere;
    QString shown = text;
    // Shortened until it fits its lines, so the cut shows as an ellipsis.
    while (shown.size() > 1 && metrics.boundingRect(box, flags, shown).height() > box.height()) {
      shown = shown.left(shown.size() - 1 - shown.size() / 20) + QChar(0x2026);
    }
    const QRect used = metrics.boundingRect(box, flags, shown);
    m_painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | flags, shown);
    m_y += std::max(used.height(), metrics.lineSpacing()) + mm(0.6);
  }
  void rule(QColor colour, double thickness) {
    m_painter.setPen(QPen(colour, mm(thickness)));
    m_painter.drawLine(m_left, m_y, m_right, m_y);
  }

 private:
  QPdfWriter& m_writer;
  QPainter m_painter;
  double m_unitsPerMm = 1;
  int m_left = 0;
  int m_right = 0;
  int m_bottom = 0;
  int m_y = 0;
};

void setUpWriter(QPdfWriter& writer, const std::string& program, const QString& title) {
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  writer.setResolution(kResolution);
  writer.setTitle(title);
  writer.setCreator(plain(program));
}

void drawTitle(Page& page, const QString& title, const std::string& id, const std::string& program,
               const QString& statement) {
  page.line(title, page.left(), page.width(), 20, true, QColor(0x20, 0x3a, 0x60));
  page.skip(1);
  page.line(QStringLiteral("Certificate ") + plain(id) + QStringLiteral("   ·   written by ") + plain(program),
            page.left(), page.width(), 9, false, QColor(0x55, 0x55, 0x55));
  page.skip(1.5);
  page.rule(QColor(0x20, 0x3a, 0x60), 0.8);
  page.skip(2);
  page.paragraph(statement, 2, 10, 0);
}

void drawDrive(Page& page, const ErasureCertificate& c) {
  page.heading(QStringLiteral("Drive"));
  page.row(QStringLiteral("Model"), plain(c.drive.model));
  page.row(QStringLiteral("Serial number"), plain(c.drive.serial));
  page.row(QStringLiteral("Firmware"), plain(c.drive.firmware));
  page.row(QStringLiteral("Capacity"), capacityText(c.drive.capacityBytes));
  page.row(QStringLiteral("Sector size"), QString::number(c.drive.sectorSize) + QStringLiteral(" bytes"));
  page.row(QStringLiteral("Bus"), plain(c.drive.bus));
  page.row(QStringLiteral("World wide name"), c.drive.wwn.empty() ? QStringLiteral("not reported") : plain(c.drive.wwn));
  page.row(QStringLiteral("SMART health"), plain(c.drive.smartHealth));
  page.heading(QStringLiteral("Hidden areas"));
  page.row(QStringLiteral("Host protected area (HPA)"), yesNoSectors(c.hidden.hpaKnown, c.hidden.hpaSectors));
  page.row(QStringLiteral("Configuration overlay (DCO)"), yesNoSectors(c.hidden.dcoKnown, c.hidden.dcoSectors));
  page.paragraph(plain(c.hidden.handling, kLongestSentence), 4);
}

void drawErasure(Page& page, const ErasureCertificate& c) {
  page.heading(QStringLiteral("Erasure"));
  page.row(QStringLiteral("Method"), plain(c.method));
  page.paragraph(plain(c.methodSentence, kLongestSentence), 3);
  page.row(QStringLiteral("Category"), plain(c.category));
  page.paragraph(categorySentence(c.category), 2);
  page.row(QStringLiteral("Started (UTC)"), plain(c.started));
  page.row(QStringLiteral("Ended (UTC)"), plain(c.ended));
  page.skip(3);
  const int top = page.y();
  page.line(QStringLiteral("Outcome"), page.left(), kValueColumn, 12, true, QColor(0x55, 0x55, 0x55));
  // The outcome stands out: large and in its colour, beside its label.
  page.setY(top - page.mm(2));
  page.line(plain(c.outcome, 40), page.left() + kValueColumn, page.width() - kValueColumn, 24, true,
            outcomeColour(c.outcome));
  page.paragraph(plain(c.outcomeDetail, kLongestSentence), 2);
}

void drawVerification(Page& page, const ErasureCertificate& c) {
  const CertificateVerification& v = c.verification;
  page.heading(QStringLiteral("Verification"));
  page.row(QStringLiteral("Read back"), plain(v.method));
  page.row(QStringLiteral("Sectors read"), QString::number(v.sectorsRead) + QStringLiteral(", not as written: ") +
                                               QString::number(v.sectorsFailed));
  // An erase nobody read back has not failed a check: it had none.
  page.row(QStringLiteral("Result"), v.method == "none" ? QStringLiteral("not checked")
                                     : v.passed         ? QStringLiteral("passed")
                                                        : QStringLiteral("not passed"));
  if (!v.detail.empty()) page.paragraph(plain(v.detail, kLongestSentence), 2);
}

void drawWitness(Page& page, const std::string& host, const std::string& operatorName,
                 const std::string& fingerprint, const std::string& jsonName) {
  page.heading(QStringLiteral("Done by"));
  page.row(QStringLiteral("Host"), plain(host));
  page.row(QStringLiteral("Operator"), plain(operatorName));
  page.row(QStringLiteral("Signed with key"),
           fingerprint.empty() ? QStringLiteral("not signed") : QStringLiteral("Ed25519, fingerprint (SHA-256)"));
  if (!fingerprint.empty()) {
    // Sixteen groups of four: two lines of eight, each read aloud in one breath.
    const QString groups = plain(fingerprint);
    page.row(QString(), groups.left(39), true);
    page.row(QString(), groups.mid(40), true);
  }
  page.skip(13);
  const int lineTop = page.y();
  page.painter().setPen(QPen(Qt::black, page.mm(0.25)));
  page.painter().drawLine(page.left(), lineTop, page.left() + page.mm(95), lineTop);
  page.painter().drawLine(page.left() + page.mm(110), lineTop, page.left() + page.width(), lineTop);
  page.skip(0.8);
  const int top = page.y();
  page.line(QStringLiteral("Operator's signature"), page.left(), page.mm(95), 8.5, false, QColor(0x55, 0x55, 0x55));
  page.setY(top);
  page.line(QStringLiteral("Date"), page.left() + page.mm(110), page.mm(60), 8.5, false, QColor(0x55, 0x55, 0x55));
  page.skip(5);
  page.paragraph(QStringLiteral("This page shows the certificate ") + plain(jsonName) +
                     QStringLiteral(". The file is the record: palvoro-cli certificate verify checks that no field "
                                    "of it was changed and, when it is signed, by which key."),
                 2, 8, 0);
}

// Draws with `draw` into a PDF held in memory, under the drawing lock.
template <typename Draw>
std::optional<std::string> drawPdf(const std::string& program, const QString& title, Draw draw) {
  if (!preparePdfDrawing()) return std::nullopt;
  const std::lock_guard<std::mutex> lock(drawingMutex());
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    setUpWriter(writer, program, title);
    Page page(writer);
    if (!page.active()) return std::nullopt;
    draw(page);
  }
  if (bytes.isEmpty()) return std::nullopt;
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The bench table's columns: heading, left edge and width in millimetres from the margin.
struct Column {
  const char* heading;
  double x;
  double width;
};
constexpr Column kBenchColumns[] = {{"#", 0, 7},         {"Model", 7, 43},    {"Serial number", 50, 36},
                                    {"Method", 86, 32},  {"Category", 118, 18}, {"Outcome", 136, 22},
                                    {"Verified", 158, 16}};

void benchHeader(Page& page) {
  const int top = page.y();
  for (const Column& column : kBenchColumns) {
    page.setY(top);
    page.line(QString::fromLatin1(column.heading), page.left() + page.mm(column.x), page.mm(column.width - 1), 8.5,
              true);
  }
  page.rule(QColor(0x20, 0x3a, 0x60), 0.3);
  page.skip(1);
}

void benchRow(Page& page, size_t index, const ErasureCertificate& c) {
  const QString cells[] = {QString::number(index + 1), plain(c.drive.model),   plain(c.drive.serial),
                           plain(c.method),            plain(c.category),      plain(c.outcome),
                           c.verification.passed ? QStringLiteral("yes") : QStringLiteral("no")};
  const int top = page.y();
  int bottom = top;
  for (size_t i = 0; i < std::size(cells); ++i) {
    page.setY(top);
    const bool outcome = i == 5;
    page.line(cells[i], page.left() + page.mm(kBenchColumns[i].x), page.mm(kBenchColumns[i].width - 1), 8.5, outcome,
              outcome ? outcomeColour(c.outcome) : QColor(Qt::black));
    bottom = std::max(bottom, page.y());
  }
  page.setY(bottom + page.mm(0.8));
}

QtMessageHandler g_previousHandler = nullptr;

// Qt's offscreen platform complains, once, that the console has no runtime folder: true
// and harmless for a program that only draws into memory, and noise on an erase's output.
void withoutRuntimeFolderNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QStringLiteral("XDG_RUNTIME_DIR"))) return;
  if (g_previousHandler != nullptr) {
    g_previousHandler(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(message));
  }
}

// Whether Qt will find the offscreen platform plugin: where QT_QPA_PLATFORM_PLUGIN_PATH
// says, or in a platforms folder of Qt's plugin paths (QT_PLUGIN_PATH's among them).
bool offscreenPluginPresent() {
  QStringList folders;
  const QByteArray own = qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
  if (!own.isEmpty()) folders << QString::fromLocal8Bit(own);
  for (const QString& path : QCoreApplication::libraryPaths()) folders << path + QStringLiteral("/platforms");
  for (const QString& folder : folders) {
    if (QFileInfo::exists(folder + QStringLiteral("/libqoffscreen.so"))) return true;
  }
  return false;
}

}  // namespace

bool preparePdfDrawing() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (QCoreApplication::instance() != nullptr) return;
    // Qt ends the process when its platform plugin cannot be loaded: an erase must not
    // end that way for want of a picture, so without the plugin there is no application
    // and the certificate goes as JSON alone.
    if (!offscreenPluginPresent()) return;
    // Qt's application sets the C library's locale from the environment; palvoro-cli's
    // output must not change its decimal point because a certificate was drawn.
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    static int argc = 3;
    static char name[] = "palvoro";
    static char platformOption[] = "-platform";
    static char offscreen[] = "offscreen";
    static char* argv[] = {name, platformOption, offscreen, nullptr};
    g_previousHandler = qInstallMessageHandler(withoutRuntimeFolderNotes);
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    static const std::thread::id owner = std::this_thread::get_id();
    std::setlocale(LC_ALL, locale.c_str());
    // Kept until the process exits, then taken down before Qt's own globals (registered
    // while it was made, so they go after it), which hands the fonts back. Only the
    // thread that made it may take it down: made on another (a command run on a thread
    // of its own), it stays, still reachable, for the process's end to reclaim.
    std::atexit([] {
      if (std::this_thread::get_id() != owner) return;
      delete application;
      application = nullptr;
    });
  });
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

std::optional<std::string> certificatePdf(const ErasureCertificate& certificate, const std::string& fingerprint,
                                          const std::string& jsonName) {
  return drawPdf(certificate.program, QStringLiteral("Certificate of Data Erasure"), [&](Page& page) {
    drawTitle(page, QStringLiteral("Certificate of Data Erasure"), certificate.id, certificate.program,
              QStringLiteral("The data on the drive named below was erased by the method, and with the outcome, "
                             "this certificate records."));
    drawDrive(page, certificate);
    drawErasure(page, certificate);
    drawVerification(page, certificate);
    drawWitness(page, certificate.host, certificate.operatorName, fingerprint, jsonName);
  });
}

std::optional<std::string> benchCertificatePdf(const BenchCertificate& bench, const std::string& fingerprint,
                                               const std::string& jsonName) {
  const QString title = QStringLiteral("Certificate of Data Erasure: bench summary");
  return drawPdf(bench.program, title, [&](Page& page) {
    drawTitle(page, title, bench.id, bench.program,
              QStringLiteral("The drives listed below were erased together; each drive's own certificate records "
                             "its method, verification and outcome in full."));
    page.row(QStringLiteral("Started (UTC)"), plain(bench.started));
    page.row(QStringLiteral("Ended (UTC)"), plain(bench.ended));
    size_t complete = 0;
    for (const ErasureCertificate& c : bench.drives) complete += c.outcome == "COMPLETE" ? 1 : 0;
    page.row(QStringLiteral("Drives"), QString::number(bench.drives.size()) + QStringLiteral(", ") +
                                           QString::number(complete) + QStringLiteral(" COMPLETE, ") +
                                           QString::number(bench.drives.size() - complete) +
                                           QStringLiteral(" not; each has its own certificate beside this one"));
    page.heading(QStringLiteral("Drives"));
    benchHeader(page);
    for (size_t i = 0; i < bench.drives.size(); ++i) {
      if (!page.fits(8)) {
        page.newPage();
        benchHeader(page);
      }
      benchRow(page, i, bench.drives[i]);
    }
    if (!page.fits(70)) page.newPage();
    drawWitness(page, bench.host, bench.operatorName, fingerprint, jsonName);
  });
}

}  // namespace palvoro
