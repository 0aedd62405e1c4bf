// NVMe admin commands over the lab's NVMe fixture: the storage stack's property queries
// and protocol command written out by hand, the nvme_admin_cmd the fake kernel receives
// field by field, the reply bytes, and every refusal before anything is sent.

#include "platform/linux/nvme_admin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "device/nvme_transport.h"
#include "linux_rig.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "protocol/nvme_command.h"

namespace palvoro::real::test {
namespace {

const std::string kFakeNamespace = fakeNode("nvme0n1");
constexpr const char* kFakeNsidAttribute = "/sys/devices/pci0000:00/0000:00:03.0/nvme/nvme0/nvme0n1/nsid";
constexpr uint32_t kGenericRead = 0x80000000u;

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
Bytes pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 1);
  return b;
}

// A property query: PropertyId, QueryType, the 40 bytes of protocol data, room for the
// data at 8 + offset.
struct Query {
  uint32_t property = 49, queryType = 0, protocol = 3, type = 1, value = 1, sub = 0, offset = 40, length = 4096,
           sub2 = 0, sub3 = 0, sub4 = 0;
};
Bytes bytes(const Query& q) {
  Bytes b = cat({le32(q.property), le32(q.queryType), le32(q.protocol), le32(q.type), le32(q.value), le32(q.sub),
                 le32(q.offset), le32(q.length), le32(0), le32(q.sub2), le32(q.sub3), le32(q.sub4)});
  b.resize(8 + q.offset + q.length, 0);
  return b;
}

// A protocol command: the 80-byte header, the 64-byte entry, 64 bytes of error room.
struct Command {
  uint32_t version = 1, length = 84, protocol = 3, flags = 0x80000000, commandLength = 64, errorRoom = 64,
           toDevice = 0, fromDevice = 0, timeout = 30, errorAt = 144, specific = 1;
  uint8_t opcode = 0x14, entryFlags = 0;
  uint32_t nsid = 0xFFFFFFFF, cdw10 = 1;
};
Bytes bytes(const Command& c) {
  return cat({le32(c.version), le32(c.length), le32(c.protocol), le32(c.flags), le32(0), le32(0),
              le32(c.commandLength), le32(c.errorRoom), le32(c.toDevice), le32(c.fromDevice), le32(c.timeout),
              le32(c.errorAt), le32(0), le32(0), le32(c.specific), Bytes(20, 0),  // up to Reserved1
              {c.opcode, c.entryFlags, 0, 0}, le32(c.nsid), Bytes(32, 0), le32(c.cdw10), Bytes(20, 0),
              Bytes(64, 0)});
}

// A request changed from its defaults.
template <typename Record>
Bytes with(void (*change)(Record&)) {
  Record r;
  change(r);
  return bytes(r);
}

struct NvmeRig : Rig {
  explicit NvmeRig(const char* fixture = "nvme") : Rig({fixture}) {}
  // Sends `request` through the same buffer, as the core does.
  bool send(uint32_t code, Bytes& request, uint32_t access = kReadWrite, uint32_t inSize = 0, uint32_t outSize = 0) {
    const Handle h = open(0, access);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    const auto size = static_cast<uint32_t>(request.size());
    const bool ok = platform.deviceIoControl(h, code, request.data(), inSize ? inSize : size, request.data(),
                                             outSize ? outSize : size, &returned);
    error = platform.lastError();
    platform.closeHandle(h);
    return ok;
  }
  uint32_t returned = 0;
  uint32_t error = 0;  // the request's last error, before the handle closed
};

TEST(LinuxNvmeTest, RequestsBecomeAdminCommands) {
  struct Case {
    const char* name;
    uint32_t code;
    Bytes request;
    int result;      // the controller's status
    uint32_t dword0;
    // What nvme_admin_cmd carried: opcode, nsid, cdw10..13, data_len, timeout_ms.
    std::vector<uint32_t> sent;
    uint32_t replyLength;  // data bytes of a query's reply
  };
  const uint32_t query = IOCTL_STORAGE_QUERY_PROPERTY, command = IOCTL_STORAGE_PROTOCOL_COMMAND;
  const uint32_t all = 0xFFFFFFFF;
  // NUMD is the length in dwords less one: 512 bytes 7Fh, 564 bytes 8Ch, 262148 bytes
  // 10000h (NUMDL 0 beside the log id, NUMDU 1 in CDW11); bit 15 of CDW10 retains
  // asynchronous events on every log read.
  const Case cases[] = {
      {"IdentifyController", query, bytes(Query{}), 0, 0, {0x06, 0, 1, 0, 0, 0, 4096, 15000}, 4096},
      {"IdentifyNamespace", query, with<Query>([](Query& q) { q.property = 50, q.value = 0; }), 0, 0,
       {0x06, 1, 0, 0, 0, 0, 4096, 15000}, 4096},
      {"IdentifyNamespaceNamed", query, with<Query>([](Query& q) { q.property = 50, q.value = 0, q.sub = 1; }), 0, 0,
       {0x06, 1, 0, 0, 0, 0, 4096, 15000}, 4096},
      {"IdentifyIntoMoreRoom", query, with<Query>([](Query& q) { q.length = 8192; }), 0, 0,
       {0x06, 0, 1, 0, 0, 0, 4096, 15000}, 4096},
      {"IdentifyIntoLessRoom", query, with<Query>([](Query& q) { q.length = 512; }), 0, 0,
       {0x06, 0, 1, 0, 0, 0, 4096, 15000}, 512},
      {"DataAskedFurtherOnComesAt48", query, with<Query>([](Query& q) { q.offset = 64; }), 0, 0,
       {0x06, 0, 1, 0, 0, 0, 4096, 15000}, 4096},
      {"HealthLog", query, with<Query>([](Query& q) { q.type = 2, q.value = 2, q.length = 512, q.sub4 = 1; }), 0,
       0xA5A5, {0x02, all, 0x007F8002, 0, 0, 0, 512, 15000}, 512},
      // The Sanitize Status log, which a sanitize polls: a read like any log.
      {"SanitizeStatusLog", query, with<Query>([](Query& q) { q.type = 2, q.value = 0x81, q.length = 512, q.sub4 = 1; }),
       0, 0, {0x02, all, 0x007F8081, 0, 0, 0, 512, 15000}, 512},
      // A query that does not ask to retain asynchronous events still retains them.
      {"LogAskedToClearEvents", query, with<Query>([](Query& q) { q.type = 2, q.value = 2, q.length = 512; }), 0, 0,
       {0x02, all, 0x007F8002, 0, 0, 0, 512, 15000}, 512},
      {"SelfTestLog", query, with<Query>([](Query& q) { q.type = 2, q.value = 6, q.length = 564; }), 0, 0,
       {0x02, all, 0x008C8006, 0, 0, 0, 564, 15000}, 564},
      {"LogAtAnOffset", query,
       with<Query>([](Query& q) { q.type = 2, q.value = 2, q.length = 512, q.sub = 0x200, q.sub2 = 1; }), 0, 0,
       {0x02, all, 0x007F8002, 0, 0x200, 1, 512, 15000}, 512},
      {"LogBeyondSixtyFourKiDwords", query, with<Query>([](Query& q) { q.type = 2, q.value = 2, q.length = 262148; }),
       0, 0, {0x02, all, 0x00008002, 1, 0, 0, 262148, 15000}, 262148},
      {"SelfTestShort", command, bytes(Command{}), 0, 0x12345678, {0x14, all, 1, 0, 0, 0, 0, 30000}, 0},
      {"SelfTestAbort", command, with<Command>([](Command& c) { c.cdw10 = 0xF; }), 0, 0,
       {0x14, all, 0xF, 0, 0, 0, 0, 30000}, 0},
      {"SelfTestTimeoutCapped", command, with<Command>([](Command& c) { c.cdw10 = 2, c.timeout = 3600; }), 0, 0,
       {0x14, all, 2, 0, 0, 0, 0, 60000}, 0},
      // QEMU's controller has no self-test: Invalid Command Opcode, Do Not Retry.
      {"NoSelfTestOnTheController", command, bytes(Command{}), 0x4001, 0, {0x14, all, 1, 0, 0, 0, 0, 30000}, 0},
      // Device Self-test in Progress (type 1, code 1Dh), with More set.
      {"SelfTestAlreadyRunning", command, bytes(Command{}), 0x211D, 0, {0x14, all, 1, 0, 0, 0, 0, 30000}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NvmeRig rig;
    rig.sys.nvmeHandler = [&](const NvmeRequest& r) { return NvmeAnswer{c.result, c.dword0, pattern(r.dataLength)}; };
    Bytes buffer = c.request;
    ASSERT_TRUE(rig.send(c.code, buffer));
    ASSERT_EQ(rig.sys.nvmeRequests.size(), 1u);
    const NvmeRequest& r = rig.sys.nvmeRequests[0];
    EXPECT_EQ(std::vector<uint32_t>({r.opcode, r.nsid, r.cdw10, r.cdw11, r.cdw12, r.cdw13, r.dataLength, r.timeoutMs}),
              c.sent);
    EXPECT_EQ(r.dataAddress, r.dataLength > 0);
    EXPECT_EQ(r.device, kFakeNamespace);
    EXPECT_EQ(r.flags | r.cdw2 | r.cdw3 | r.cdw14 | r.cdw15 | r.metadataLength, 0u);
    Bytes want = c.request;
    if (c.code == query) {
      // Version and Size 48, the protocol data echoed with offset 40, the length handed
      // back and completion dword 0, the data at 48.
      want = cat({le32(48), le32(48), Bytes(c.request.begin() + 8, c.request.begin() + 24), le32(40),
                  le32(c.replyLength), le32(c.dword0), Bytes(c.request.begin() + 36, c.request.begin() + 48),
                  Bytes(pattern(c.replyLength))});
      buffer.resize(want.size());
    } else {
      // ReturnStatus 1 success / 2 error, ErrorCode (type << 8) | code, dword 0 at 64.
      const auto put = [&](size_t at, uint32_t v) { std::copy_n(le32(v).begin(), 4, want.begin() + at); };
      put(16, c.result == 0 ? 1 : 2);
      put(20, static_cast<uint32_t>(c.result) & 0x7FF);
      put(64, c.dword0);
    }
    EXPECT_EQ(rig.returned, want.size());
    EXPECT_TRUE(buffer == want) << hex(Bytes(buffer.begin(), buffer.begin() + 48));
  }
}

TEST(LinuxNvmeTest, MalformedRequestsRefusedUnsent) {
  struct Case {
    const char* name;
    uint32_t code;
    Bytes request;
    uint32_t error = ERROR_INVALID_PARAMETER;
    uint32_t inSize = 0, outSize = 0;  // 0: the buffer's
  };
  const uint32_t query = IOCTL_STORAGE_QUERY_PROPERTY, command = IOCTL_STORAGE_PROTOCOL_COMMAND;
  const uint32_t bad = ERROR_INVALID_PARAMETER;
  using Q = Query;
  using C = Command;
  const Case cases[] = {
      {"QueryShorterThanItsHeader", query, bytes(Q{}), bad, 47},
      {"ExistsQuery", query, with<Q>([](Q& x) { x.queryType = 1; })},
      {"NotNvme", query, with<Q>([](Q& x) { x.protocol = 2; })},
      {"DataInsideTheHeader", query, with<Q>([](Q& x) { x.offset = 36; })},
      {"LessThan512", query, with<Q>([](Q& x) { x.length = 256; })},
      {"RoomBeyondTheBuffer", query, bytes(Q{}), bad, 0, 4096 + 47},
      {"FeatureData", query, with<Q>([](Q& x) { x.type = 3; })},
      {"NamespaceOnTheControllerProperty", query, with<Q>([](Q& x) { x.value = 0; })},
      {"ControllerWithANamespace", query, with<Q>([](Q& x) { x.sub = 1; })},
      {"ControllerOnTheNamespaceProperty", query, with<Q>([](Q& x) { x.property = 50; })},
      {"AnotherNamespace", query, with<Q>([](Q& x) { x.property = 50, x.value = 0, x.sub = 2; })},
      {"LogOfTheNamespace", query, with<Q>([](Q& x) { x.property = 50, x.type = 2, x.value = 2, x.length = 512; })},
      {"LogIdZero", query, with<Q>([](Q& x) { x.type = 2, x.value = 0, x.length = 512; })},
      {"LogLengthNotDwords", query, with<Q>([](Q& x) { x.type = 2, x.value = 2, x.length = 514; })},
      {"LogOffsetNotDwords", query, with<Q>([](Q& x) { x.type = 2, x.value = 2, x.length = 512, x.sub = 2; })},
      {"LogSpecificField", query, with<Q>([](Q& x) { x.type = 2, x.value = 2, x.length = 512, x.sub4 = 2; })},
      {"CommandShorterThanItsEntry", command, bytes(C{}), bad, 143},
      {"NoRoomForTheEntry", command, bytes(C{}), ERROR_INSUFFICIENT_BUFFER, 0, 143},
      {"Version2", command, with<C>([](C& x) { x.version = 2; })},
      {"ScsiProtocol", command, with<C>([](C& x) { x.protocol = 2; })},
      {"NotForTheController", command, with<C>([](C& x) { x.flags = 0; })},
      {"NvmCommandSet", command, with<C>([](C& x) { x.specific = 2; })},
      {"NoTimeout", command, with<C>([](C& x) { x.timeout = 0; })},
      {"FusedOperation", command, with<C>([](C& x) { x.entryFlags = 0x01; })},
      {"DataFromTheDevice", command, with<C>([](C& x) { x.fromDevice = 512; })},
      {"ErrorRoomPastTheBuffer", command, with<C>([](C& x) { x.errorAt = 160; })},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    NvmeRig rig;
    rig.sys.nvmeHandler = [](const NvmeRequest&) { return NvmeAnswer{}; };
    Bytes buffer = k.request;
    EXPECT_FALSE(rig.send(k.code, buffer, kReadWrite, k.inSize, k.outSize));
    EXPECT_EQ(rig.error, k.error);
    EXPECT_TRUE(rig.sys.nvmeRequests.empty());
    EXPECT_EQ(rig.sys.nvmeIdCalls, 0);
  }
}

TEST(LinuxNvmeTest, KernelFailuresBecomeTheCoresErrors) {
  struct Case {
    const char* name;
    int result;
    bool gone;  // the disk leaves with the failure
    uint32_t error;
  };
  const Case cases[] = {
      {"NoNvmeIoctl", -ENOTTY, false, ERROR_NOT_SUPPORTED},
      {"KernelWillNotCarryIt", -EINVAL, false, ERROR_NOT_SUPPORTED},
      {"NoCapability", -EACCES, false, ERROR_ACCESS_DENIED},
      {"NotPermitted", -EPERM, false, ERROR_ACCESS_DENIED},
      {"ControllerDeadDiskListed", -ENODEV, false, ERROR_IO_DEVICE},
      {"DiskGone", -ENODEV, true, ERROR_DEVICE_NOT_CONNECTED},
      {"DiskGoneNxio", -ENXIO, true, ERROR_DEVICE_NOT_CONNECTED},
      {"Interrupted", -EINTR, false, ERROR_IO_DEVICE},
      {"Failed", -EIO, false, ERROR_IO_DEVICE},
  };
  for (const Case& c : cases) {
    for (const uint32_t code : {IOCTL_STORAGE_QUERY_PROPERTY, IOCTL_STORAGE_PROTOCOL_COMMAND}) {
      SCOPED_TRACE(std::string(c.name) + (code == IOCTL_STORAGE_QUERY_PROPERTY ? " query" : " command"));
      NvmeRig rig;
      rig.sys.nvmeHandler = [&](const NvmeRequest&) {
        if (c.gone) rig.sys.remove("/sys/block/nvme0n1");
        return NvmeAnswer{c.result, 0, {}};
      };
      Bytes buffer = code == IOCTL_STORAGE_QUERY_PROPERTY ? bytes(Query{}) : bytes(Command{});
      EXPECT_FALSE(rig.send(code, buffer));
      EXPECT_EQ(rig.error, c.error);
    }
  }
  // A status from the controller fails a query: there is no page to hand back.
  NvmeRig rig;
  rig.sys.nvmeHandler = [](const NvmeRequest&) { return NvmeAnswer{0x4002, 0, pattern(4096)}; };
  Bytes buffer = bytes(Query{});
  EXPECT_FALSE(rig.send(IOCTL_STORAGE_QUERY_PROPERTY, buffer));
  EXPECT_EQ(rig.error, ERROR_IO_DEVICE);
}

// Only Device Self-test with a short, extended or abort code and the erases (the purge
// table, write_guard_test.cpp) are sent; anything else is answered as not supported, and
// the fake never sees it.
TEST(LinuxNvmeTest, GuardRefusesEveryOtherCommandUnsent) {
  const std::pair<uint8_t, uint32_t> refused[] = {
      {0x80, 0},         // Format NVM without Secure Erase Settings
      {0x80, 3 << 9},    // Format NVM with reserved settings
      {0x84, 0},         // Sanitize without an action
      {0x84, 5},         // Sanitize with a reserved action
      {0x10, 0},         // Firmware Commit
      {0x09, 0},         // Set Features
      {0x06, 1},         // Identify: a query's business
      {0x14, 0xE},       // the maker's own self-test
      {0x14, 0x11},      // a short self-test with undefined bits
  };
  for (const auto& [opcode, cdw10] : refused) {
    SCOPED_TRACE(std::to_string(opcode) + "/" + std::to_string(cdw10));
    EXPECT_EQ(judgeNvmeAdminCommand(opcode, 1, cdw10), CommandKind::Refused);
    NvmeRig rig;
    rig.sys.nvmeHandler = [](const NvmeRequest&) { return NvmeAnswer{}; };
    Command c;
    c.opcode = opcode, c.cdw10 = cdw10;
    Bytes buffer = bytes(c);
    EXPECT_FALSE(rig.send(IOCTL_STORAGE_PROTOCOL_COMMAND, buffer));
    EXPECT_EQ(rig.error, ERROR_NOT_SUPPORTED);
    EXPECT_EQ(hex(Bytes(buffer.begin() + 16, buffer.begin() + 24)), hex(cat({le32(0xFF), le32(0)})));
    EXPECT_TRUE(rig.sys.nvmeRequests.empty());
  }
}

// Without the sysfs attribute, the node says which namespace it is; when neither does,
// Identify Namespace is not sent at all.
TEST(LinuxNvmeTest, NamespaceFromTheNodeWhenSysfsHasNone) {
  for (const int id : {3, -ENOTTY}) {
    NvmeRig rig;
    rig.sys.remove(kFakeNsidAttribute);
    rig.sys.nvmeNamespaceId = id;
    rig.sys.nvmeHandler = [](const NvmeRequest&) { return NvmeAnswer{0, 0, pattern(4096)}; };
    Bytes buffer = with<Query>([](Query& q) { q.property = 50, q.value = 0; });
    EXPECT_EQ(rig.send(IOCTL_STORAGE_QUERY_PROPERTY, buffer), id > 0);
    EXPECT_EQ(rig.sys.nvmeIdCalls, 1);
    ASSERT_EQ(rig.sys.nvmeRequests.size(), id > 0 ? 1u : 0u);
    if (id > 0) EXPECT_EQ(rig.sys.nvmeRequests[0].nsid, 3u);
    else EXPECT_EQ(rig.error, ERROR_NOT_SUPPORTED);
  }
}

TEST(LinuxNvmeTest, OnlyNvmeDisksAndOnlyWithRights) {
  struct Case {
    const char* name;
    const char* fixture;
    void (*script)(FakeSysCalls&);
    uint32_t access;
    uint32_t queryError, commandError;  // ERROR_SUCCESS: it went
  };
  const Case cases[] = {
      {"SataDisk", "sata_ahci", [](FakeSysCalls&) {}, kReadWrite, ERROR_NOT_SUPPORTED, ERROR_INVALID_FUNCTION},
      {"UserWithAQueryHandle", "nvme", [](FakeSysCalls& s) { s.uid = 1000; }, 0, ERROR_ACCESS_DENIED,
       ERROR_ACCESS_DENIED},
      {"NodeKeptShut", "nvme", [](FakeSysCalls& s) { s.failOpen(kFakeNamespace, -EPERM); }, kReadWrite,
       ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {"ReadOnlyHandle", "nvme", [](FakeSysCalls&) {}, kGenericRead, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NvmeRig rig(c.fixture);
    c.script(rig.sys);
    rig.sys.nvmeHandler = [](const NvmeRequest& r) { return NvmeAnswer{0, 0, pattern(r.dataLength)}; };
    for (Bytes buffer : {bytes(Query{}), with<Query>([](Query& q) { q.property = 50, q.value = 0; })}) {
      EXPECT_EQ(rig.send(IOCTL_STORAGE_QUERY_PROPERTY, buffer, c.access), c.queryError == ERROR_SUCCESS);
      EXPECT_EQ(rig.error, c.queryError);
    }
    Bytes buffer = bytes(Command{});
    EXPECT_FALSE(rig.send(IOCTL_STORAGE_PROTOCOL_COMMAND, buffer, c.access));
    EXPECT_EQ(rig.error, c.commandError);
    EXPECT_EQ(rig.sys.nvmeRequests.size(), c.queryError == ERROR_SUCCESS ? 2u : 0u);
    EXPECT_TRUE(rig.sys.sgRequests.empty());
  }
}

// The core's own NVMe requests read back what the controller gave.
TEST(LinuxNvmeTest, TheCoresRequestsEndToEnd) {
  NvmeRig rig;
  rig.sys.nvmeHandler = [](const NvmeRequest& r) {
    if (r.opcode == 0x14) return NvmeAnswer{};
    return NvmeAnswer{0, 0, pattern(r.dataLength)};
  };
  const Handle h = rig.open(0);
  uint8_t page[4096] = {};
  ASSERT_TRUE(nvmeIdentifyController(rig.platform, h, page));
  EXPECT_EQ(Bytes(page, page + 4096), pattern(4096));
  ASSERT_TRUE(nvmeIdentifyNamespace(rig.platform, h, page));
  ASSERT_TRUE(nvmeGetLogPage(rig.platform, h, 0x02, 512, page));
  EXPECT_EQ(Bytes(page, page + 512), pattern(512));
  EXPECT_EQ(rig.sys.nvmeRequests.back().cdw10 & 0x8000, 0x8000u);
  EXPECT_TRUE(nvmeDeviceSelfTest(rig.platform, h, kNvmeSelfTestShort).succeeded());
  ASSERT_EQ(rig.sys.nvmeRequests.size(), 4u);
  EXPECT_EQ(rig.sys.nvmeRequests[1].nsid, 1u);
  rig.platform.closeHandle(h);
}

}  // namespace
}  // namespace palvoro::real::test
