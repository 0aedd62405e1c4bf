#include "app/program_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/app_context.h"
#include "app/startup.h"
#include "platform/sim/sim_platform.h"
#include "app/palvoro_app.h"

namespace palvoro {
namespace {

TEST(ProgramFilesTest, ProgramDirIsThePathUpToItsLastSeparator) {
  const std::string deep = "/" + std::string(150, 'd') + "/" + std::string(100, 'e') + "/";
  struct Case {
    std::string path, expected;
  };
  const Case cases[] = {
      {"/opt/palvoro/bin/palvoro-lab", "/opt/palvoro/bin/"},
      {"/palvoro", "/"},
      {"palvoro", ""},
      {deep + "palvoro-lab", deep},  // 260 characters of folder: nothing cut
  };
  for (const Case& c : cases) EXPECT_EQ(programDirFromPath(c.path), c.expected) << c.path;
}

TEST(ProgramFilesTest, RunningProgramDirIsTheFolderOfThisTestProgram) {
  const std::string dir = runningProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "gui_tests")));
}

std::string contents(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll().toStdString();
}

TEST(ProgramFilesTest, ExtractionOverwritesExistingFilesAndSkipsAnUnwritableFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString() + "/";
  {
    QFile old(dir.filePath("help.htm"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older and longer help page");
  }
  const std::vector<ProgramFile> files = {{"help.htm", {'n', 'e', 'w'}}, {"vhtlogo.gif", {'G', 'I', 'F', 0, 1}}};
  EXPECT_EQ(extractProgramFiles(folder, files), 2);
  EXPECT_EQ(contents(dir.filePath("help.htm")), "new");
  EXPECT_EQ(contents(dir.filePath("vhtlogo.gif")), std::string("GIF\0\1", 5));

  EXPECT_EQ(extractProgramFiles(folder + "no-such-folder/", files), 0);
  EXPECT_FALSE(QDir(dir.filePath("no-such-folder")).exists());
}

TEST(ProgramFilesTest, StartUpWritesTheLogoAndBothHelpPages) {
  const std::vector<ProgramFile> files = startupFiles();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].name, "vhtlogo.gif");
  EXPECT_EQ(files[1].name, "help.htm");
  EXPECT_EQ(files[2].name, "smart.htm");
  EXPECT_EQ(std::string(files[0].bytes.begin(), files[0].bytes.begin() + 6), "GIF89a");
}

}  // namespace
}  // namespace palvoro

namespace palvoro {
namespace {

class CountingPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string& text, const std::string&, PromptIcon, PromptButtons, PromptAnswer) override {
    asked.push_back(text);
    return PromptAnswer::Ok;
  }
  std::vector<std::string> asked;
};

// The whole start-up: files next to the program, the checks (a limited user is warned),
// detection done before the main window opens, the compliance table freed after it.
TEST(CPalvoroAppTest, InitInstanceRunsStartUpThenTheMainWindowThenFreesTheComplianceTable) {
  sim::SimMachine machine = sim::builtinMachine("showcase");
  machine.administrator = false;
  sim::SimPlatform platform(std::move(machine));
  CountingPrompter prompter;
  AppContext context(platform, prompter);
  int countSeenByMainWindow = -1;
  bool tableLoadedDuringMainWindow = false;
  CPalvoroApp app(context, [&](AppContext& ctx) {
    countSeenByMainWindow = ctx.driveTable().driveCount;
    tableLoadedDuringMainWindow = ctx.complianceTable().loaded();
  });
  QFile::remove(QString::fromStdString(runningProgramDir() + "smart.htm"));
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(context.startup().programDir, runningProgramDir());
  EXPECT_TRUE(QFile::exists(QString::fromStdString(runningProgramDir() + "smart.htm")));
  EXPECT_EQ(context.startup().miniportMode, 1);
  EXPECT_EQ(prompter.asked, std::vector<std::string>{kNoAdministratorWarning});
  EXPECT_GT(countSeenByMainWindow, 0);
  EXPECT_TRUE(tableLoadedDuringMainWindow);
  EXPECT_FALSE(context.complianceTable().loaded());
}

}  // namespace
}  // namespace palvoro
