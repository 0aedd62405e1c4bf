#include "ui/widgets/drive_logs_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTabWidget>
#include <QTableWidget>
#include <cstring>

#include "ui/screenshot.h"

namespace palvoro {
namespace {

DriveRecord kestrel() {
  DriveRecord record{};
  std::strcpy(record.model, "Kestrel KX1000  ");
  std::strcpy(record.serialNumber, "KX10007731");
  return record;
}

// What a drive that is going bad keeps: a failed extended self-test, three read errors in
// the last day, no statistics (its bridge would not pass them) and a history that once
// went over its limit.
DriveLogs failingLogs() {
  DriveLogs logs;
  logs.opened = true;
  SelfTestLog selfTests;
  selfTests.entries = {{.test = 2, .status = 7, .remainingPercent = 90, .lifetimeHours = 14187, .failingLba = 123456},
                       {.test = 1, .status = 0, .lifetimeHours = 13940}};
  logs.selfTests = selfTests;
  AtaErrorLog errors;
  errors.extended = true;
  errors.deviceErrorCount = 3;
  errors.checksumValid = true;
  for (uint32_t i = 0; i < 3; ++i) {
    AtaErrorEntry entry;
    entry.number = 3 - i;
    entry.error = 0x40;
    entry.status = 0x41;
    entry.state = 3;
    entry.lba = 123459 - i;
    entry.lifetimeHours = static_cast<uint16_t>(14226 - 10 * i);
    entry.commands = {{.command = 0x60, .lba = 123459 - i}};
    errors.entries.push_back(entry);
  }
  logs.comprehensiveErrors = errors;
  SctStatus status;
  status.currentCelsius = 41;
  status.lifetimeMaxCelsius = 62;
  status.overLimitCount = 1;
  logs.sctStatus = status;
  SctTemperatureHistory history;
  history.intervalMinutes = 10;
  history.maxOperating = 55;
  history.samples = {std::nullopt, std::nullopt, 36, 44, 52, 61, 62, std::nullopt, 48, 41, 41};
  logs.temperatureHistory = history;
  logs.powerOnHours = 14230;
  logs.notRead = {kDeviceStatisticsName};
  return logs;
}

TEST(DriveLogsModelTest, TablesSayWhatTheDriveKeptAndWhatItDidNotHandOver) {
  const DriveLogsModel model(failingLogs(), kestrel(), 4);
  EXPECT_EQ(model.title(), "Drive Logs - Physical Drive 4");
  EXPECT_EQ(model.heading(), "Kestrel KX1000 (serial KX10007731), 14230 power-on hours");
  const std::vector<LogTable> tables = model.tables();
  ASSERT_EQ(tables.size(), 4u);
  EXPECT_EQ(tables[0].rows[0],
            (std::vector<std::string>{"1", "Extended offline", "Completed: read failure", "90%", "14187", "123456"}));
  EXPECT_EQ(tables[0].rows[1][5], "-");
  EXPECT_EQ(tables[1].rows[0], (std::vector<std::string>{"3", "14226", "Active or idle", "40 (UNC)", "41", "123459",
                                                          "READ FPDMA QUEUED (60h)"}));
  EXPECT_EQ(tables[1].note,
            "The drive has counted 3 errors in its life; the newest 3 from its comprehensive error log, newest first.");
  EXPECT_TRUE(tables[2].rows.empty());
  EXPECT_EQ(tables[2].note, "The drive or its bridge did not hand this log over.");
  EXPECT_EQ(model.notReadLine(), "Not handed over by the drive or its bridge: Device statistics.");
  // The history drops the samples before the first one recorded and keeps the gap after it.
  const std::optional<TemperatureSeries> series = model.temperatureSeries();
  ASSERT_TRUE(series);
  EXPECT_EQ(series->celsius.size(), 9u);
  EXPECT_FALSE(series->celsius[5]);
  EXPECT_EQ(series->limit, 55);
}

TEST(DriveLogsDialogTest, SummaryFirstThenAPagePerLogWithTheTemperaturePlotted) {
  CDriveLogsDlg dialog(DriveLogsModel(failingLogs(), kestrel(), 4));
  dialog.show();
  QApplication::processEvents();
  EXPECT_EQ(dialog.windowTitle(), "Drive Logs - Physical Drive 4");
  QStringList tabs;
  for (int i = 0; i < dialog.pages()->count(); ++i) tabs << dialog.pages()->tabText(i);
  EXPECT_EQ(tabs, (QStringList{"Summary", "Self-Tests", "Errors", "Statistics", "Temperature"}));
  const QString summary = dialog.summary()->text();
  EXPECT_TRUE(summary.contains("found a read failure at sector 123456")) << summary.toStdString();
  EXPECT_TRUE(summary.contains("3 errors logged in the last 100 power-on hours")) << summary.toStdString();
  EXPECT_TRUE(summary.contains("Not handed over by the drive or its bridge: Device statistics."));
  ASSERT_NE(dialog.table(2), nullptr);
  EXPECT_EQ(dialog.table(2)->rowCount(), 3);
  EXPECT_EQ(dialog.table(2)->item(0, 6)->text(), "READ FPDMA QUEUED (60h)");
  EXPECT_EQ(dialog.table(3)->rowCount(), 0);
  ASSERT_NE(dialog.temperaturePlot(), nullptr);
  dialog.pages()->setCurrentIndex(0);
  test::saveScreenshot(dialog, QStringLiteral("drive_logs_summary"));
  dialog.pages()->setCurrentIndex(2);
  test::saveScreenshot(dialog, QStringLiteral("drive_logs_errors"));
  dialog.pages()->setCurrentIndex(4);
  QApplication::processEvents();
  // The line crosses the limit where the history went over it: red dashes and blue line.
  const QImage plot = dialog.temperaturePlot()->grab().toImage();
  bool red = false;
  bool blue = false;
  for (int y = 0; y < plot.height(); ++y) {
    for (int x = 0; x < plot.width(); ++x) {
      const QRgb pixel = plot.pixel(x, y);
      red = red || (qRed(pixel) > 200 && qGreen(pixel) < 40 && qBlue(pixel) < 40);
      blue = blue || (qBlue(pixel) > 180 && qRed(pixel) < 40 && qGreen(pixel) < 120);
    }
  }
  EXPECT_TRUE(red);
  EXPECT_TRUE(blue);
  test::saveScreenshot(dialog, QStringLiteral("drive_logs_temperature"));
}

}  // namespace
}  // namespace palvoro
