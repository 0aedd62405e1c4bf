// NVMe requests as the command layer builds them, compared byte by byte with the records
// written out by hand, and what it makes of the replies the simulated controller (and its
// faults) hand back.

#include "device/nvme_transport.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/device_test_support.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using devtest::Bytes;

constexpr const char* kMachine = R"({"drives": [{"number": 0, "transport": "nvme",
  "identity": {"model": "Sabik NV2", "serial": "SBK01", "firmware": "2.1", "sectors": 2000000},
  "nvme": {"health": {"criticalWarning": 4, "temperature": 40, "powerCycles": 77}}}]})";

sim::SimFault faultOf(sim::SimFault::Kind kind, uint32_t ioctl, uint32_t replyBytes = 0) {
  sim::SimFault f;
  f.kind = kind;
  f.ioctl = ioctl;
  f.replyBytes = replyBytes;
  return f;
}

// Little-endian dwords, as the records are written.
Bytes dwords(std::initializer_list<uint32_t> values) {
  Bytes out;
  for (uint32_t v : values) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  return out;
}

class NvmeTransportTest : public ::testing::Test {
 protected:
  NvmeTransportTest() : platform(sim::loadMachine(kMachine)) {
    handle = platform.createFile(devtest::kDrive0, devtest::kReadWrite, devtest::kShareReadWrite, OPEN_EXISTING, 0);
    platform.clearLog();
  }
  ~NvmeTransportTest() override { platform.closeHandle(handle); }

  sim::SimRequest only(uint32_t code) {
    const auto requests = platform.ioctls(code);
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? sim::SimRequest{} : requests.front();
  }

  void fault(sim::SimFault f) {
    f.drive = 0;
    platform.injectFault(f);
  }

  sim::SimPlatform platform;
  Handle handle = INVALID_HANDLE_VALUE;
};

TEST_F(NvmeTransportTest, QueriesCarryThePropertyTheDataTypeAndTheValue) {
  const struct {
    const char* name;
    bool (*call)(Platform&, Handle, uint8_t*);
    uint32_t property, dataType, value, length;
  } cases[] = {
      {"identify controller", nvmeIdentifyController, 49, 1, 1, 4096},
      {"identify namespace", nvmeIdentifyNamespace, 50, 1, 0, 4096},
      {"health log",
       [](Platform& p, Handle h, uint8_t* out) { return nvmeGetLogPage(p, h, 0x02, 512, out); }, 49, 2, 2, 512},
      {"self-test log",
       [](Platform& p, Handle h, uint8_t* out) { return nvmeGetLogPage(p, h, 0x06, 564, out); }, 49, 2, 6, 564},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform.clearLog();
    std::vector<uint8_t> page(c.length, 0xEE);
    ASSERT_TRUE(c.call(platform, handle, page.data()));
    const sim::SimRequest r = only(IOCTL_STORAGE_QUERY_PROPERTY);
    // PropertyId, QueryType, then the protocol-specific data: type NVMe, data type, value,
    // sub value, data offset 40 and length, the return field and three more sub values, the
    // last of a log page retaining asynchronous events.
    Bytes header = dwords({c.property, 0, 3, c.dataType, c.value, 0, 40, c.length, 0, 0, 0, c.dataType == 2 ? 1u : 0u});
    EXPECT_EQ(r.inSize, 48 + c.length);
    EXPECT_EQ(r.outSize, 48 + c.length);
    ASSERT_EQ(r.input.size(), 48 + c.length);
    EXPECT_EQ(Bytes(r.input.begin(), r.input.begin() + 48), header);
    EXPECT_EQ(Bytes(r.input.begin() + 48, r.input.end()), Bytes(c.length, 0));
  }
}

TEST_F(NvmeTransportTest, PagesArriveFromBehindTheDescriptor) {
  uint8_t controller[4096] = {};
  ASSERT_TRUE(nvmeIdentifyController(platform, handle, controller));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(controller + 24), 9), "Sabik NV2");
  EXPECT_EQ(controller[24 + 9], ' ');
  uint8_t health[512] = {};
  ASSERT_TRUE(nvmeGetLogPage(platform, handle, 0x02, sizeof health, health));
  EXPECT_EQ(health[0], 4);
  EXPECT_EQ(health[1] | (health[2] << 8), 313);
  EXPECT_EQ(health[112], 77);
  uint8_t small[256] = {};
  EXPECT_FALSE(nvmeGetLogPage(platform, handle, 0x02, sizeof small, small)) << "below 512 bytes is never asked";
}

TEST_F(NvmeTransportTest, AFailedOrCutShortReplyIsNoPage) {
  const struct {
    const char* name;
    sim::SimFault fault;
  } cases[] = {
      {"request fails", faultOf(sim::SimFault::Kind::FailRequest, IOCTL_STORAGE_QUERY_PROPERTY)},
      {"page cut short", faultOf(sim::SimFault::Kind::ShortReply, IOCTL_STORAGE_QUERY_PROPERTY, 48 + 100)},
      {"descriptor only", faultOf(sim::SimFault::Kind::ShortReply, IOCTL_STORAGE_QUERY_PROPERTY, 40)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform.clearFaults();
    fault(c.fault);
    uint8_t page[512];
    std::memset(page, 0xEE, sizeof page);
    EXPECT_FALSE(nvmeGetLogPage(platform, handle, 0x02, sizeof page, page));
  }
}

TEST_F(NvmeTransportTest, SelfTestIsAnAdminProtocolCommand) {
  for (const uint32_t code : {1u, 2u, 0xFu}) {
    platform.clearLog();
    const NvmeCommandResult result = nvmeDeviceSelfTest(platform, handle, code);
    const sim::SimRequest r = only(IOCTL_STORAGE_PROTOCOL_COMMAND);
    // Version 1, length 84, NVMe, adapter request; status and error code; command length
    // 64, error information 64 bytes; no data either way; 30 s; error information at 144;
    // no data offsets; admin command; reserved and return fields.
    Bytes want = dwords({1, 84, 3, 0x80000000, 0, 0, 64, 64, 0, 0, 30, 144, 0, 0, 1, 0, 0, 0, 0, 0});
    // The entry: opcode 14h, every namespace, CDW10 the self-test code.
    Bytes entry = dwords({0x14, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 0, 0, code, 0, 0, 0, 0, 0});
    want.insert(want.end(), entry.begin(), entry.end());
    want.resize(208, 0);
    EXPECT_EQ(r.inSize, 208u);
    EXPECT_EQ(r.outSize, 208u);
    EXPECT_EQ(r.input, want) << "code " << code;
    if (code == 1) {
      EXPECT_TRUE(result.succeeded());
    } else if (code == 2) {
      // A test already runs: the controller completes the start with status 1Dh.
      EXPECT_TRUE(result.delivered);
      EXPECT_FALSE(result.succeeded());
      EXPECT_EQ(result.status, STORAGE_PROTOCOL_STATUS_ERROR);
      EXPECT_EQ(result.nvmeStatus, 0x1Du);
    } else {
      EXPECT_TRUE(result.succeeded());
    }
  }
  fault(faultOf(sim::SimFault::Kind::FailRequest, IOCTL_STORAGE_PROTOCOL_COMMAND));
  EXPECT_FALSE(nvmeDeviceSelfTest(platform, handle, 1).delivered);
}

}  // namespace
}  // namespace palvoro
