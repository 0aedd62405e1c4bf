// /proc/self/mountinfo lines as kernels write them, and the ones no kernel writes.

#include "platform/linux/mountinfo.h"

#include <gtest/gtest.h>

namespace palvoro::real {
namespace {

struct MountCase {
  const char* name;
  const char* line;
  bool parses;
  unsigned major, minor;
  const char* root;
  const char* mountPoint;
  const char* fsType;
  const char* source;
  const char* superOptions;
};

// The sources are names no machine has: the parser only reads them as text.
const MountCase kCases[] = {
    {"LabDataPartition", "28 1 8:1 / /mnt/data rw,relatime - ext4 /dev/fakedisk-a1 rw", true, 8, 1, "/", "/mnt/data", "ext4",
     "/dev/fakedisk-a1", "rw"},
    {"EscapedSpaceTabBackslash", R"(36 28 8:17 / /media/My\040Disk\011x\134y rw - vfat /dev/fakedisk-b1 rw,fmask=0022)", true,
     8, 17, "/", "/media/My Disk\tx\\y", "vfat", "/dev/fakedisk-b1", "rw,fmask=0022"},
    {"EscapedNewlineInSource", R"(37 28 8:18 / /a rw - ext4 /dev/disk/by-label/x\012y rw)", true, 8, 18, "/", "/a",
     "ext4", "/dev/disk/by-label/x\ny", "rw"},
    // Not an escape: a backslash followed by too few or non-octal digits stays as it is.
    {"BackslashWithoutOctal", R"(38 28 8:19 / /b\9z\04 rw - ext4 /dev/fakedisk-b3 rw)", true, 8, 19, "/", R"(/b\9z\04)",
     "ext4", "/dev/fakedisk-b3", "rw"},
    {"OptionalFields", "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 shared:2 propagate_from:3 - ext3 /dev/root rw",
     true, 98, 0, "/mnt1", "/mnt2", "ext3", "/dev/root", "rw"},
    {"BtrfsSubvolume", "40 1 0:35 /@home /home rw,relatime shared:20 - btrfs /dev/fakenvme-p2 rw,subvol=/@home", true,
     0, 35, "/@home", "/home", "btrfs", "/dev/fakenvme-p2", "rw,subvol=/@home"},
    {"BindMountOfAFolder", "41 28 8:1 /srv/www /var/www rw - ext4 /dev/fakedisk-a1 rw", true, 8, 1, "/srv/www", "/var/www",
     "ext4", "/dev/fakedisk-a1", "rw"},
    {"NoSuperOptions", "42 1 8:2 / /old rw - ext2 /dev/fakedisk-a2", true, 8, 2, "/", "/old", "ext2", "/dev/fakedisk-a2", ""},
    {"TrailingNewline", "43 1 8:3 / /c rw - ext4 /dev/fakedisk-a3 rw\n", true, 8, 3, "/", "/c", "ext4", "/dev/fakedisk-a3", "rw"},
    {"NoSeparator", "44 1 8:4 / /d rw ext4 /dev/fakedisk-a4 rw", false, 0, 0, "", "", "", "", ""},
    {"NoSourceAfterSeparator", "45 1 8:5 / /e rw - ext4", false, 0, 0, "", "", "", "", ""},
    {"DeviceWithoutColon", "46 1 805 / /f rw - ext4 /dev/fakedisk-a5 rw", false, 0, 0, "", "", "", "", ""},
    {"IdNotANumber", "x 1 8:6 / /g rw - ext4 /dev/fakedisk-a6 rw", false, 0, 0, "", "", "", "", ""},
    {"MinorNotANumber", "47 1 8:6a / /g rw - ext4 /dev/fakedisk-a6 rw", false, 0, 0, "", "", "", "", ""},
    {"TooFewFields", "48 1 8:7 / - ext4 /dev/fakedisk-a7 rw", false, 0, 0, "", "", "", "", ""},
    {"Empty", "", false, 0, 0, "", "", "", "", ""},
};

TEST(LinuxMountinfoTest, EveryLineForm) {
  for (const MountCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const auto e = parseMountinfoLine(c.line);
    ASSERT_EQ(e.has_value(), c.parses);
    if (!e) continue;
    EXPECT_EQ(e->major, c.major);
    EXPECT_EQ(e->minor, c.minor);
    EXPECT_EQ(e->root, c.root);
    EXPECT_EQ(e->mountPoint, c.mountPoint);
    EXPECT_EQ(e->fsType, c.fsType);
    EXPECT_EQ(e->source, c.source);
    EXPECT_EQ(e->superOptions, c.superOptions);
  }
}

TEST(LinuxMountinfoTest, MalformedLinesAreSkippedNotTheRest) {
  const auto entries = parseMountinfo(
      "1 1 0:2 / / rw - rootfs rootfs rw\n"
      "garbage\n"
      "\n"
      "28 1 8:1 / /mnt/data rw,relatime - ext4 /dev/fakedisk-a1 rw\n"
      "29 1 8:1 / /mnt/bind rw - ext4 /dev/fakedisk-a1 rw");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].mountPoint, "/mnt/data");
  EXPECT_EQ(entries[2].mountPoint, "/mnt/bind");
}

}  // namespace
}  // namespace palvoro::real
