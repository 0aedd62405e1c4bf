#include "results/help_pages.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "smart/attribute_names.h"
#include "results/gif_encoder.h"

namespace palvoro {
namespace {

// The banner both pages open with: the maker's blue band with the logo on the right, as
// the result page has it, so the three pages look like one set. The pages name the program
// alone: one installed copy serves the windows on this computer's drives and those on the
// simulated machine.
const char* const kBanner =
    "<table cellspacing=0 cellpadding=4 width='100%' bgcolor=#336699><tr>"
    "<td><font color=#ffffff size=+2><b>PALVORO</b></font></td>"
    "<td align=right><a href='https://www.example.com/varnholt/'>"
    "<img src='vhtlogo.gif' border=0 alt='Varnholt Logo'></a></td></tr></table>\r\n";

const char* const kFooter =
    "<hr>\r\n"
    "<p><font size=-1>PALVORO is made by Varnholt. Support and the latest version: "
    "<a href='https://www.example.com/varnholt/support/'>www.example.com/varnholt/support</a>, "
    "e-mail <a href='mailto:support@example.com'>support@example.com</a>.</font></p>\r\n"
    "</body></html>\r\n";

// One row of the attribute table on the SMART page: an ID of the general name table and
// what the attribute counts. The name itself is taken from that table, so the page and
// the SMART window always agree.
struct AttributeHelp {
  uint8_t id;
  const char* meaning;
};

constexpr std::array<AttributeHelp, 22> kAttributeHelp = {{
    {1, "Rate of errors met while reading data from the platters. Vendors scale it differently; "
        "watch the normalised value, not the raw count."},
    {2, "Overall throughput of the drive. A falling value points to a developing problem."},
    {3, "Time the spindle takes to reach its working speed."},
    {4, "How many times the spindle was started and stopped."},
    {5, "Sectors the drive found bad and replaced with spare sectors. A growing count is the "
        "clearest early sign of a failing surface."},
    {7, "Rate of errors while positioning the heads."},
    {9, "Hours the drive has been powered on."},
    {10, "Spin-up attempts that needed a retry. Points to a mechanical or power problem."},
    {12, "How many times the drive was powered on."},
    {187, "Errors the drive could not correct with its error correction code."},
    {188, "Commands aborted because the drive did not answer in time, often a cable or power problem."},
    {189, "Writes made while a head flew outside its normal height."},
    {190, "Temperature of the air flowing through the drive."},
    {193, "Head load and unload cycles (parking the heads)."},
    {194, "Temperature inside the drive."},
    {196, "How often the drive tried to move data from a bad sector to a spare one."},
    {197, "Sectors that could not be read and wait to be reallocated. They are rewritten or "
          "replaced when data is next written to them; the repair of the EXTENDED TEST does this."},
    {198, "Sectors found unreadable by the drive's own off-line scan."},
    {199, "Transfer errors on the interface cable. A growing count usually means a faulty or "
          "loose cable rather than a faulty drive."},
    {200, "Errors while writing data."},
    {241, "Total amount of data written by the host."},
    {242, "Total amount of data read by the host."},
}};

// Letters the logo is drawn from: strokes between two points, in logo pixels before the
// slant is applied.
struct Stroke {
  double x0, y0, x1, y1;
};

constexpr int kLogoWidth = 120;
constexpr int kLogoHeight = 40;
constexpr double kStrokeHalfWidth = 2.7;
constexpr double kSlant = 0.22;  // italic lean: x moves right by this much per pixel upwards
constexpr double kBaseline = 30.0;

constexpr std::array<Stroke, 7> kLogoStrokes = {{
    {10, 7, 19, 30},   // V
    {19, 30, 28, 7},   //
    {39, 7, 39, 30},   // H
    {55, 7, 55, 30},   //
    {39, 18.5, 55, 18.5},
    {64, 7, 88, 7},    // T
    {76, 7, 76, 30},   //
}};

// Palette of the logo. Index 0 is the maker's blue, 4 white; 1 to 3 blend the two for the
// smoothed letter edges; 5 the light accent bar, 6 the shadow behind the letters.
constexpr uint32_t kBlue = 0x336699;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint8_t kIndexBlue = 0, kIndexWhite = 4, kIndexAccent = 5, kIndexShadow = 6;

uint32_t blend(uint32_t from, uint32_t to, double share) {
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const double a = (from >> shift) & 0xFF, b = (to >> shift) & 0xFF;
    out |= static_cast<uint32_t>(std::lround(a + (b - a) * share)) << shift;
  }
  return out;
}

double distanceToStroke(double x, double y, const Stroke& s) {
  const double dx = s.x1 - s.x0, dy = s.y1 - s.y0;
  const double lengthSquared = dx * dx + dy * dy;
  double t = lengthSquared > 0 ? ((x - s.x0) * dx + (y - s.y0) * dy) / lengthSquared : 0;
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  const double ex = x - (s.x0 + t * dx), ey = y - (s.y0 + t * dy);
  return std::sqrt(ex * ex + ey * ey);
}

// Whether a point of the logo lies on a letter; the slant is undone before the test.
bool onLetter(double x, double y) {
  const double upright = x - (kBaseline - y) * kSlant;
  for (const Stroke& s : kLogoStrokes) {
    if (distanceToStroke(upright, y, s) <= kStrokeHalfWidth) return true;
  }
  return false;
}

}  // namespace

// Long on purpose: the help page's text, paragraph after paragraph.
std::string helpPageHtml() {
  std::string page = "<html><head><title>PALVORO Help</title></head><body>\r\n";
  page += kBanner;
  page +=
      "<h1>PALVORO Help</h1>\r\n"
      "<p><a href='#about'>What PALVORO does</a> | <a href='#start'>Before you start</a> | "
      "<a href='#main'>The main window</a> | <a href='#quick'>QUICK TEST</a> | "
      "<a href='#extended'>EXTENDED TEST</a> | <a href='#erase'>ERASE</a> | "
      "<a href='#result'>VIEW TEST RESULT</a> | <a href='#smart'>SMART data</a></p>\r\n"

      "<h2><a name='about'></a>What PALVORO does</h2>\r\n"
      "<p>PALVORO tests the disk drives of your computer. At start-up it finds every physical drive: "
      "internal ATA and SATA drives, SCSI drives, drives in USB and FireWire enclosures and the "
      "Varnholt two-drive USB RAID enclosure. For each drive it shows the model, serial number, "
      "capacity and SMART health status, and it lists the fixed volumes of the computer. You can "
      "then run a quick or an extended test on a drive, erase it, look at its SMART data and view "
      "the results of the tests you ran.</p>\r\n"
      "<p>Every test starts with a cable test, which checks that the drive can be opened and "
      "reached. A failed test shows an error code and a message; write them down when you "
      "contact support.</p>\r\n"

      "<h2><a name='start'></a>Before you start</h2>\r\n"
      "<ul>\r\n"
      "<li>Run PALVORO as an administrator. Without administrator rights PALVORO warns you once, "
      "reads SMART data by another route and refuses the EXTENDED TEST and ERASE.</li>\r\n"
      "<li>Back up your data before you test a drive you are worried about, and always before "
      "a repair or an erase.</li>\r\n"
      "<li>Close other programs and open files on the drive. PALVORO asks you to do so when it "
      "finds other programs open.</li>\r\n"
      "<li>Keep the computer powered and awake while a test runs. An extended test of a large "
      "drive can take hours.</li>\r\n"
      "</ul>\r\n"

      "<h2><a name='main'></a>The main window</h2>\r\n"
      "<p>The upper list shows the physical drives, the lower list the logical drives (volumes). "
      "To test a drive:</p>\r\n"
      "<ol>\r\n"
      "<li>Highlight the drive in the physical drive list.</li>\r\n"
      "<li>Click the small drive picture in the line above the list, press Enter, or "
      "double-click the drive. "
      "The <b>Select An Option</b> window opens.</li>\r\n"
      "<li>Choose QUICK TEST, EXTENDED TEST, ERASE or VIEW TEST RESULT and click "
      "<b>Start</b>.</li>\r\n"
      "</ol>\r\n"
      "<p>Click the small page picture beside it, or the drive's SMART Status, to see its SMART data. Right-click "
      "a drive for a menu with Run Diagnostics, Show SMART Drive Info and Properties. Press F5 "
      "to look for drives again; PALVORO also does this by itself when a drive is plugged in or "
      "removed and after a test.</p>\r\n"
      "<p>To see which version of PALVORO you have, right-click the banner at the top of the "
      "main window, or the logo beside it, and choose <b>About PALVORO</b>.</p>\r\n"
      "<p>The SMART Status column reads <b>PASS</b> when the drive reports good health and no "
      "attribute has reached its threshold, <b>FAIL</b> when one has, and <b>Not Available</b> "
      "when SMART is switched off or cannot be reached through the drive's connection (many USB, "
      "FireWire and SCSI drives). For the RAID enclosure it shows the state of the array.</p>\r\n"

      "<h2><a name='quick'></a>QUICK TEST</h2>\r\n"
      "<p>The quick test asks the drive to run its own SMART short self-test and follows it "
      "until the drive reports the result; this takes about two minutes. A drive that has no "
      "self-test gets a quick scan of the beginning and the end of its surface instead. The "
      "quick test only reads: your data is not changed.</p>\r\n"

      "<h2><a name='extended'></a>EXTENDED TEST</h2>\r\n"
      "<p>The extended test first reads sectors at random places of the drive, then reads the "
      "whole surface sector by sector. It shows the current sector, the elapsed and the "
      "remaining time, and records up to 200 sectors it cannot read. It only reads; it can take "
      "hours on a large drive. Click <b>Cancel</b> to stop it at any time.</p>\r\n"
      "<h3>Repairing bad sectors</h3>\r\n"
      "<p>When the scan found unreadable sectors, a <b>Repair</b> button appears. Repair writes "
      "zeros over each bad sector, so that the drive replaces it with a spare sector, and then "
      "reads it back.</p>\r\n"
      "<p><font color=#cc0000><b>Warning:</b> the data stored in the bad sectors is lost. Back up "
      "the drive before you repair it.</font> A drive with more than 200 bad sectors cannot be "
      "repaired by PALVORO; replace it and contact support.</p>\r\n"

      "<h2><a name='erase'></a>ERASE</h2>\r\n"
      "<p><font color=#cc0000><b>Warning: erasing makes all data on the drive, and its file "
      "system, inaccessible. It cannot be undone.</b></font> Back up all data to other media "
      "first. PALVORO refuses to erase the drive Windows runs from, asks you again when "
      "partitions may exist on the drive, and asks a last time before it starts.</p>\r\n"
      "<ul>\r\n"
      "<li><b>QUICK ERASE</b> writes zeros over the first and the last million sectors of the "
      "drive and removes its partition table. It takes a few minutes.</li>\r\n"
      "<li><b>FULL ERASE</b> writes zeros over the entire drive. It takes as long as an extended "
      "test.</li>\r\n"
      "</ul>\r\n"
      "<p>Solid-state and hybrid drives are erased with the drive's own commands (TRIM or "
      "sanitize) where they need them; some of them offer only the quick erase. After an erase "
      "the drive must be partitioned and formatted again before Windows can use it.</p>\r\n"

      "<h2><a name='result'></a>VIEW TEST RESULT</h2>\r\n"
      "<p>Shows one table for each test run since PALVORO was started, oldest first: the test "
      "option, model number, serial number, firmware, capacity, SMART status, the result "
      "(<font color=#009933><b>PASS</b></font>, <font color=#ff0000><b>FAIL</b></font>, "
      "<font color=#ff0000><b>ABORT</b></font> or <font color=#009933><b>COMPLETE</b></font>), "
      "the error code of a failed test and the time it ended. The results are kept only "
      "while PALVORO runs.</p>\r\n"

      "<h2><a name='smart'></a>SMART data</h2>\r\n"
      "<p>SMART is the drive's own health monitoring. The SMART Drive Information window lists "
      "every attribute the drive reports; its <b>Help</b> button explains what the columns "
      "mean.</p>\r\n";
  page += kFooter;
  return page;
}

std::string smartPageHtml() {
  std::string page =
      "<html><head><title>SMART Attribute Information</title></head><body>\r\n";
  page += kBanner;
  page +=
      "<h1>SMART Attribute Information</h1>\r\n"

      "<h2>What SMART is</h2>\r\n"
      "<p>S.M.A.R.T. (Self-Monitoring, Analysis and Reporting Technology) is built into the "
      "drive. The drive watches selected characteristics of its own performance and "
      "calibration, called <b>attributes</b>, and uses them to predict that it is about to "
      "fail. PALVORO reads the attributes and their thresholds from the drive and shows them in "
      "the SMART Drive Information window.</p>\r\n"

      "<h2>The columns</h2>\r\n"
      "<table border=1 cellspacing=0 cellpadding=4>\r\n"
      "<tr bgcolor=#336699><th><font color=#ffffff>Column</font></th>"
      "<th><font color=#ffffff>Meaning</font></th></tr>\r\n"
      "<tr><td>Attribute Name</td><td>What the attribute measures. Makers name some IDs "
      "differently; an ID PALVORO does not know is shown as Unknown.</td></tr>\r\n"
      "<tr><td>ID</td><td>The attribute's number, in hexadecimal.</td></tr>\r\n"
      "<tr><td>Value</td><td>The current, normalised value, from 1 to 253; 253 is best. Higher "
      "is better, whatever the attribute counts. A value falling toward the threshold means "
      "the health of the drive is getting worse.</td></tr>\r\n"
      "<tr><td>Threshold</td><td>The lowest value the maker allows. An attribute whose value "
      "has reached its threshold indicates a faulty condition. A threshold of 0 means the "
      "attribute is only reported, never judged.</td></tr>\r\n"
      "<tr><td>Worst</td><td>The lowest value the attribute has ever had. Because a drive can "
      "recover, the worst value shows a problem that has happened even when the current value "
      "looks good.</td></tr>\r\n"
      "<tr><td>Warranty</td><td><b>1</b>: this attribute is under warranty (a pre-failure "
      "attribute) should it fall to its threshold. <b>0</b>: this attribute is not under "
      "warranty; it is only advisory.</td></tr>\r\n"
      "</table>\r\n"

      "<h2>PASS and FAIL</h2>\r\n"
      "<p>A drive passes SMART when none of its warranty attributes has reached its threshold: "
      "neither the current value nor the worst value may be equal to or below the threshold. "
      "An attribute that has reached its threshold is marked and its value is shown in "
      "<font color=#ff0000><b>red</b></font>, and the drive's SMART Status becomes "
      "<font color=#ff0000><b>FAIL</b></font>. A drive that fails SMART may stop working soon: "
      "back up its data at once and replace it. Attributes with warranty 0 never fail the "
      "drive.</p>\r\n"

      "<h2>Common attributes</h2>\r\n"
      "<p>The raw counts behind the values are the maker's own and are not shown. The most "
      "telling attributes are the reallocated, pending and uncorrectable sector counts.</p>\r\n"
      "<table border=1 cellspacing=0 cellpadding=4>\r\n"
      "<tr bgcolor=#336699><th><font color=#ffffff>ID (hex)</font></th>"
      "<th><font color=#ffffff>Attribute Name</font></th>"
      "<th><font color=#ffffff>What it counts</font></th></tr>\r\n";
  for (const AttributeHelp& row : kAttributeHelp) {
    char id[16];
    std::snprintf(id, sizeof id, "%d (%02X)", row.id, row.id);
    page += "<tr><td>";
    page += id;
    page += "</td><td>";
    page += attributeName(row.id, kNamesGeneral);
    page += "</td><td>";
    page += row.meaning;
    page += "</td></tr>\r\n";
  }
  page +=
      "</table>\r\n"
      "<h2>Drives with a flash unit</h2>\r\n"
      "<p>A hybrid drive with a second, flash unit reports SMART for both units. The rows of "
      "the flash unit are named with the prefix <b>NAND:</b>, for example NAND: Bad Block Count "
      "and NAND: Erase Count. Solid-state drives report wear instead of mechanical values: "
      "Media Wearout Indicator and Available Reserved Space fall from 100 as the flash wears "
      "out.</p>\r\n";
  page += kFooter;
  return page;
}

std::vector<uint8_t> logoGif() {
  IndexedImage image;
  image.width = kLogoWidth;
  image.height = kLogoHeight;
  image.palette = {kBlue,
                   blend(kBlue, kWhite, 0.25),
                   blend(kBlue, kWhite, 0.5),
                   blend(kBlue, kWhite, 0.75),
                   kWhite,
                   0x99CCFF,
                   0x1F3F5F,
                   0x000000};
  image.pixels.resize(static_cast<size_t>(kLogoWidth) * kLogoHeight, kIndexBlue);

  // Each pixel is sampled 4 x 4 times; the share of samples on a letter picks the shade.
  constexpr int kSamples = 4;
  constexpr double kShadowOffset = 1.5;
  for (int y = 0; y < kLogoHeight; ++y) {
    for (int x = 0; x < kLogoWidth; ++x) {
      int covered = 0;
      bool shadow = false;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double px = x + (sx + 0.5) / kSamples, py = y + (sy + 0.5) / kSamples;
          if (onLetter(px, py)) ++covered;
          if (onLetter(px - kShadowOffset, py - kShadowOffset)) shadow = true;
        }
      }
      uint8_t index = kIndexBlue;
      if (covered == kSamples * kSamples) {
        index = kIndexWhite;
      } else if (covered > 0) {
        index = static_cast<uint8_t>(1 + (covered * 3) / (kSamples * kSamples));  // 1 to 3
      } else if (shadow) {
        index = kIndexShadow;
      } else if (y >= 34 && y <= 35 && x >= 8 && x <= 112) {
        index = kIndexAccent;  // the underline that closes the logo
      }
      image.pixels[static_cast<size_t>(y) * kLogoWidth + x] = index;
    }
  }
  return encodeGif(image);
}

}  // namespace palvoro
