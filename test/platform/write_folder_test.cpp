// The one way the program writes its files: what each kind of folder gets, and that a link
// planted at a file's name never makes the write land in another file.

#include "platform/write_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace palvoro {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class WriteFolderTest : public ::testing::Test {
 protected:
  WriteFolderTest() {
    base = fs::temp_directory_path() / ("palvoro-write-" + std::to_string(getpid()));
    fs::remove_all(base);
    fs::create_directories(base / "other");
    ::chmod(base.c_str(), 0755);
    std::ofstream(base / "other" / "victim") << "the victim's own text";
  }
  ~WriteFolderTest() override {
    std::error_code ignored;
    fs::remove_all(base, ignored);
  }
  fs::path base;
};

TEST_F(WriteFolderTest, OnlyAFolderOfTheUsersOwnIsWrittenAndNeverThroughALink) {
  const FileUser me = FileUser::current();
  struct Case {
    const char* name;
    mode_t mode;
    FileUser user;
    bool plantLink;  // a link at the file's name, to the victim
    FolderCheck check;
  };
  const Case cases[] = {
      {"the user's own folder", 0700, me, false, FolderCheck::Usable},
      {"a link at the name is replaced", 0700, me, true, FolderCheck::Usable},
      {"another user's folder", 0700, {me.uid + 1, me.gid}, true, FolderCheck::NotOwned},
      {"world-writable", 0777, me, true, FolderCheck::OpenToOthers},
      {"writable by a group not the user's", 0770, {me.uid, me.gid + 1}, true, FolderCheck::OpenToOthers},
      {"writable by the user's own group", 0770, me, true, FolderCheck::Usable},
      {"world-writable with the sticky bit", 01777, me, true, FolderCheck::Usable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = base / "results";
    fs::remove_all(dir);
    fs::create_directory(dir);
    ASSERT_EQ(::chmod(dir.c_str(), c.mode), 0);
    if (c.plantLink) fs::create_symlink(base / "other" / "victim", dir / "vhtlogo.gif");

    const WriteFolder folder = WriteFolder::open(dir.string(), c.user);
    EXPECT_EQ(folder.check(), c.check);
    const FileWrite written = folder.writeFile("vhtlogo.gif", "GIF89a", 6);
    EXPECT_EQ(contents(base / "other" / "victim"), "the victim's own text");
    if (c.check == FolderCheck::Usable) {
      EXPECT_EQ(written, FileWrite::Written);
      EXPECT_TRUE(folder.refusal().empty());
      EXPECT_FALSE(fs::is_symlink(dir / "vhtlogo.gif"));
      EXPECT_EQ(contents(dir / "vhtlogo.gif"), "GIF89a");
      EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // no temporary left
    } else {
      EXPECT_EQ(written, FileWrite::FolderRefused);
      EXPECT_EQ(folder.refusal().rfind("Files are not written into " + dir.string() + ": ", 0), 0u)
          << folder.refusal();
    }
  }
}

// Root accepts no folder a user could change, at any depth, and follows no link to one.
TEST_F(WriteFolderTest, RootWritesOnlyWhereEveryFolderFromTheTopIsRoots) {
  const FileUser root{0, 0};
  const fs::path home = base / "home";  // stands for a user's home
  fs::create_directories(home / "results");
  // Run by root, the test hands the "home" to a user; otherwise it is the user's already.
  if (geteuid() == 0) {
    ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
  }
  struct Case {
    std::string path;
    FolderCheck check;
    const char* because;
  };
  const Case cases[] = {
      {(home / "results").string(), FolderCheck::NotRootsPath, "belongs to "},
      {"/proc/self/cwd", FolderCheck::LinkOnPath, "/proc/self is a symbolic link"},  // a link whoever runs this
      {(base / "missing").string(), FolderCheck::Missing, "missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const WriteFolder folder = WriteFolder::open(c.path, root);
    if (c.check == FolderCheck::Missing && geteuid() != 0) {
      EXPECT_EQ(folder.check(), FolderCheck::NotRootsPath);  // the test's own folder stops it first
    } else {
      EXPECT_EQ(folder.check(), c.check);
      EXPECT_NE(folder.refusal().find(c.because), std::string::npos) << folder.refusal();
    }
    EXPECT_EQ(folder.writeFile("Tovrin.htm", "x", 1), FileWrite::FolderRefused);
  }
}

}  // namespace
}  // namespace palvoro
