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
  // A link where the logo goes: the logo replaces the link, its target keeps its text.
  QTemporaryDir other;
  ASSERT_TRUE(other.isValid());
  {
    QFile victim(other.filePath("victim"));
    ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
    victim.write("the victim's own text");
  }
  ASSERT_TRUE(QFile::link(other.filePath("victim"), dir.filePath("vhtlogo.gif")));
  const std::vector<ProgramFile> files = {{"help.htm", {'n', 'e', 'w'}}, {"vhtlogo.gif", {'G', 'I', 'F', 0, 1}}};
  EXPECT_EQ(extractProgramFiles(folder, files), 2);
  EXPECT_EQ(contents(dir.filePath("help.htm")), "new");
  EXPECT_EQ(contents(dir.filePath("vhtlogo.gif")), std::string("GIF\0\1", 5));
  EXPECT_EQ(contents(other.filePath("victim")), "the victim's own text");

  std::string refusal;
  EXPECT_EQ(extractProgramFiles(folder + "no-such-folder/", files, &refusal), 0);
  EXPECT_FALSE(QDir(dir.filePath("no-such-folder")).exists());
  EXPECT_NE(refusal.find("no-such-folder"), std::string::npos) << refusal;
}

// Where the help pages are read from and where the result page goes, for a program in a
// build tree, installed under a prefix, or copied on its own, with the environments a
// session, a bare service or pkexec give it, run by a user or by root (who never takes a
// folder from the environment, as `sudo -E` passes the user's, nor writes beside the
// program).
TEST(ProgramFilesTest, FoldersFollowTheInstallLayoutAndTheUsersStateFolder) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const std::string base = root.path().toStdString() + "/";
  QDir(root.path()).mkpath("prefix/bin");
  QDir(root.path()).mkpath("prefix/share/palvoro");
  QDir(root.path()).mkpath("lonely");
  QDir(root.path()).mkpath("home");
  QDir(root.path()).mkpath("blocked");
  ASSERT_EQ(extractProgramFiles(base + "prefix/share/palvoro/", {{"help.htm", {'h'}}}), 1);
  // A file where .local should be: the state folder cannot be made (whoever runs this).
  ASSERT_EQ(extractProgramFiles(base + "blocked/", {{".local", {'x'}}}), 1);
  const std::string installedHelp = base + "prefix/bin/../share/palvoro/";
  const std::string homeState = base + "home/.local/state/palvoro/";
  const std::string rootState = base + "var/lib/palvoro/";
  const FileUser user{1000, 1000};
  const FileUser rootUser{0, 0};

  struct Case {
    const char* name;
    std::string programDir;
    const char* xdgState;
    const char* home;
    std::string help, results;
    FileUser who;
  };
  const std::string xdg = base + "xdg";
  const Case cases[] = {
      {"installed, state folder made under HOME", base + "prefix/bin/", nullptr, "home", installedHelp, homeState, user},
      {"XDG_STATE_HOME wins", base + "prefix/bin/", "xdg", "home", installedHelp, xdg + "/palvoro/", user},
      {"a relative XDG_STATE_HOME is ignored", base + "prefix/bin/", "relative/state", "home", installedHelp,
       homeState, user},
      {"copied on its own: pages beside the result page", base + "lonely/", nullptr, "home", homeState, homeState,
       user},
      {"no HOME: the program's own folder", base + "lonely/", nullptr, nullptr, base + "lonely/", base + "lonely/",
       user},
      {"no HOME, no program folder: nowhere", base + "gone/", nullptr, nullptr, "", "", user},
      {"state folder cannot be made", base + "lonely/", nullptr, "blocked", base + "lonely/", base + "lonely/", user},
      {"root ignores XDG_STATE_HOME and HOME", base + "prefix/bin/", "xdg", "home", installedHelp, rootState, rootUser},
      {"root never writes beside the program", base + "lonely/", nullptr, nullptr, rootState, rootState, rootUser},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string xdgValue = c.xdgState == nullptr ? std::string()
                                 : c.xdgState[0] == 'r' ? std::string(c.xdgState)
                                                        : base + c.xdgState;
    const std::string homeValue = c.home == nullptr ? std::string() : base + c.home;
    const ProgramFolders folders = findProgramFolders(
        c.programDir,
        [&](const char* name) -> const char* {
          if (std::string(name) == "XDG_STATE_HOME") return c.xdgState == nullptr ? nullptr : xdgValue.c_str();
          if (std::string(name) == "HOME") return c.home == nullptr ? nullptr : homeValue.c_str();
          return nullptr;
        },
        c.who, rootState);
    EXPECT_EQ(folders.helpDir, c.help);
    EXPECT_EQ(folders.resultsDir, c.results);
    EXPECT_EQ(folders.helpInstalled, c.help == installedHelp);
  }
  // Made for the user alone: the page names the drives tested and what was found.
  EXPECT_EQ(QFile::permissions(QString::fromStdString(homeState)) & 0x0077, 0);
  EXPECT_EQ(QFile::permissions(QString::fromStdString(rootState)) & 0x0077, 0);
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
  PromptAnswer ask(const std::string& text, const std::string&, PromptIcon, PromptButtons buttons,
                   PromptAnswer, PromptPurpose) override {
    asked.push_back(text);
    return buttons == PromptButtons::YesNo ? yesNo : PromptAnswer::Ok;
  }
  std::vector<std::string> asked;
  PromptAnswer yesNo = PromptAnswer::No;
};

// The whole start-up: the program's files, the checks (a limited user is warned),
// detection done before the main window opens, the compliance table freed after it.
TEST(CPalvoroAppTest, InitInstanceRunsStartUpThenTheMainWindowThenFreesTheComplianceTable) {
  sim::SimMachine machine = sim::builtinMachine("showcase");
  machine.administrator = false;
  sim::SimPlatform platform(std::move(machine));
  CountingPrompter prompter;
  AppContext context(platform, prompter);
  int countSeenByMainWindow = -1;
  bool tableLoadedDuringMainWindow = false;
  bool historyDuringMainWindow = false;
  CPalvoroApp app(context, [&](AppContext& ctx) {
    countSeenByMainWindow = ctx.driveTable().driveCount();
    tableLoadedDuringMainWindow = ctx.complianceTable().loaded();
    historyDuringMainWindow = ctx.history() != nullptr;
  });
  app.setHistoryFolder("", true);
  // The test main points XDG_STATE_HOME at a folder of its own; the folders are found as a
  // user's (not root's) run finds them, whoever runs the test. A full build lays out the data folder
  // beside the programs' folders as an install does; a build of the tests alone has none,
  // and the pages are written beside the result page.
  app.setProgramFolders(findProgramFolders(runningProgramDir(), [](const char* name) { return std::getenv(name); },
                                           FileUser{1000, 1000}));
  EXPECT_FALSE(app.InitInstance());
  const std::string state = std::string(std::getenv("XDG_STATE_HOME")) + "/palvoro/";
  const std::string data = runningProgramDir() + "../share/palvoro/";
  EXPECT_EQ(context.startup().resultsDir, state);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(state + "vhtlogo.gif")));
  EXPECT_EQ(context.startup().helpDir, QFile::exists(QString::fromStdString(data + "help.htm")) ? data : state);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(context.startup().helpDir + "smart.htm")));
  EXPECT_EQ(context.startup().miniportMode, 1);
  EXPECT_EQ(prompter.asked, std::vector<std::string>{kNoAdministratorWarning});
  EXPECT_GT(countSeenByMainWindow, 0);
  EXPECT_TRUE(tableLoadedDuringMainWindow);
  EXPECT_FALSE(context.complianceTable().loaded());
  // A simulated machine's history lies apart from the real drives'.
  EXPECT_TRUE(historyDuringMainWindow);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(state + "simulated/history.sqlite")));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(state + "history.sqlite")));
}

// A user without rights is offered a start with them: the program that got them does the
// work and this one ends; refused or failed, this one goes on without them.
TEST(CPalvoroAppTest, TheNoRightsNoteOffersARestartWithRightsWherePkexecIs) {
  struct Case {
    bool offered;
    PromptAnswer answer;
    bool restarted;  // what the restart reports
    int restarts;
    bool mainWindow;
  };
  const Case cases[] = {
      {false, PromptAnswer::Yes, true, 0, true},
      {true, PromptAnswer::No, true, 0, true},
      {true, PromptAnswer::Yes, true, 1, false},
      {true, PromptAnswer::Yes, false, 1, true},
  };
  for (const Case& c : cases) {
    sim::SimMachine machine = sim::builtinMachine("basic");
    machine.administrator = false;
    sim::SimPlatform platform(std::move(machine));
    CountingPrompter prompter;
    prompter.yesNo = c.answer;
    AppContext context(platform, prompter);
    bool mainWindowRan = false;
    CPalvoroApp app(context, [&](AppContext&) { mainWindowRan = true; });
    app.setNoRightsNote("No rights.");
    int restarts = 0;
    if (c.offered) {
      app.setRestartWithRights([&] {
        ++restarts;
        return c.restarted;
      });
    }
    app.InitInstance();
    ASSERT_EQ(prompter.asked.size(), 2u);
    EXPECT_EQ(prompter.asked[1], c.offered ? std::string("No rights.") + kRestartWithRightsQuestion : "No rights.");
    EXPECT_EQ(restarts, c.restarts);
    EXPECT_EQ(mainWindowRan, c.mainWindow);
    EXPECT_FALSE(context.complianceTable().loaded());
  }
}

}  // namespace
}  // namespace palvoro
