// The Linux backend's block queues on the fake machine, each case on a ring that completes
// requests newest first and again on the threads used where no ring can be set up: the
// outcomes come back in submission order and equal between the two, a refused write
// never reaches the disk, and closing waits for what is in flight.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "linux_rig.h"
#include "platform/linux/linux_block_queue.h"
#include "platform/linux/ring_ops.h"

namespace palvoro::real::test {
namespace {

// The fallback's threads read and write the fake machine beside each other, and the fake
// keeps no lock of its own; everything else it is asked happens while they wait.
class SerialFake : public FakeSysCalls {
 public:
  ssize_t pread(int fd, void* buffer, size_t size, off_t offset) override {
    std::lock_guard lock(m_mutex);
    return FakeSysCalls::pread(fd, buffer, size, offset);
  }
  ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) override {
    std::lock_guard lock(m_mutex);
    return FakeSysCalls::pwrite(fd, buffer, size, offset);
  }

 private:
  std::mutex m_mutex;
};

// What the tests tell the rings and learn from them.
struct RingScript {
  int initError = 0;          // -ENOSYS: a kernel without rings
  size_t unreapedAtExit = 0;  // requests the ring still held when it was torn down
};

// A ring over the fake machine: a request moves its bytes through the fake system calls as
// it is submitted, its completion shows only once the queue waits, and then every finished
// one shows at once and comes back newest first.
class FakeRing : public RingOps {
 public:
  FakeRing(SysCalls& sys, RingScript& script) : m_sys(sys), m_script(script) {}
  int init(unsigned entries) override {
    m_room = entries;
    return m_script.initError;
  }
  bool prepare(bool write, int fd, void* buffer, uint32_t bytes, uint64_t offset, uint64_t tag) override {
    if (m_prepared.size() >= m_room) return false;
    m_prepared.push_back({write, fd, buffer, bytes, offset, tag});
    return true;
  }
  int submit() override {
    for (const Request& r : m_prepared) {
      const ssize_t n = r.write ? m_sys.pwrite(r.fd, r.buffer, r.bytes, static_cast<off_t>(r.offset))
                                : m_sys.pread(r.fd, r.buffer, r.bytes, static_cast<off_t>(r.offset));
      m_finished.emplace_back(r.tag, static_cast<int32_t>(n));
    }
    const int taken = static_cast<int>(m_prepared.size());
    m_prepared.clear();
    return taken;
  }
  int reap(bool wait, uint64_t& tag, int32_t& result) override {
    if (wait && m_shown.empty()) {
      (void)submit();
      m_shown.insert(m_shown.end(), m_finished.begin(), m_finished.end());
      m_finished.clear();
    }
    if (m_shown.empty()) {
      if (wait) ADD_FAILURE() << "the queue waits for a request it never sent";
      return wait ? -EINVAL : 0;
    }
    std::tie(tag, result) = m_shown.back();
    m_shown.pop_back();
    return 1;
  }
  void exit() override { m_script.unreapedAtExit = m_prepared.size() + m_finished.size() + m_shown.size(); }

 private:
  struct Request {
    bool write;
    int fd;
    void* buffer;
    uint32_t bytes;
    uint64_t offset;
    uint64_t tag;
  };
  SysCalls& m_sys;
  RingScript& m_script;
  size_t m_room = 0;
  std::vector<Request> m_prepared;
  std::vector<std::pair<uint64_t, int32_t>> m_finished;
  std::vector<std::pair<uint64_t, int32_t>> m_shown;
};

struct QueueRig {
  explicit QueueRig(bool ring) {
    fake.loadFixture("sata_ahci");
    fake.addFile("/proc/self/mountinfo", "");
    script.initError = ring ? 0 : -ENOSYS;
  }
  SerialFake fake;
  RingScript script;
  LinuxPlatform platform{fake, fake.root(), [this] { return std::make_unique<FakeRing>(fake, script); }};
};

constexpr uint32_t kRequestBytes = 65536;
constexpr uint64_t kFirst = 2 << 20;  // inside sda1 (sectors 2048 to 1050623)
const char* const kSdaPath = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda";

uint64_t offsetOf(size_t i) { return kFirst + i * kRequestBytes; }
uint8_t fillOf(size_t i) { return static_cast<uint8_t>(0xA0 + i); }

struct Outcome {
  uint64_t offset;
  uint32_t moved;
  uint32_t error;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* out) {
  *out << "{" << o.offset << " " << o.moved << " " << o.error << "}";
}

// Four requests of 64 KiB from 2 MiB on; `refused` is what every submit answers when the
// write is not allowed (and then no outcome comes back).
struct Case {
  const char* name;
  BlockDirection direction;
  std::function<void(FakeSysCalls&)> setUp;      // before the queue opens
  std::function<void(FakeSysCalls&)> meanwhile;  // after it opened, before the requests
  std::vector<Outcome> outcomes;
  uint32_t refused;
  std::string refusal;
};

struct Seen {
  std::string engine;
  std::vector<Outcome> outcomes;
  bool dataInPlace = true;  // each whole read holds its own sectors, each whole write landed
};

Seen run(const Case& c, bool ring) {
  QueueRig rig(ring);
  for (size_t i = 0; i < 4; ++i) rig.fake.putSector(fakeNode("sda"), offsetOf(i), Bytes(kRequestBytes, fillOf(i)));
  if (c.setUp) c.setUp(rig.fake);
  const Handle h = rig.platform.createFile("\\\\.\\PhysicalDrive0", kReadWrite, 3, 3, 0);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  Seen result;
  BlockBuffers buffers(4, kRequestBytes);
  {
    std::unique_ptr<BlockQueue> queue = rig.platform.openBlockQueue(h, c.direction, 512);
    EXPECT_NE(queue, nullptr) << rig.platform.lastError();
    if (queue == nullptr) return result;
    result.engine = queue->engine();
    if (c.meanwhile) c.meanwhile(rig.fake);
    for (size_t i = 0; i < 4; ++i) {
      if (c.direction == BlockDirection::Write) std::memset(buffers.at(i), 0x10 + static_cast<int>(i), kRequestBytes);
      uint32_t error = 0;
      EXPECT_EQ(queue->submit({offsetOf(i), kRequestBytes, buffers.at(i)}, error), c.refused == 0);
      EXPECT_EQ(error, c.refused);
    }
    for (BlockCompletion done; queue->complete(done);) result.outcomes.push_back({done.offset, done.moved, done.error});
  }
  // Looked at once the queue is gone: the fake keeps no lock of its own.
  for (const Outcome& o : result.outcomes) {
    if (o.error != 0) continue;
    const size_t i = (o.offset - kFirst) / kRequestBytes;
    const bool read = c.direction == BlockDirection::Read;
    const Bytes expected(kRequestBytes, read ? fillOf(i) : static_cast<uint8_t>(0x10 + i));
    const Bytes held = read ? Bytes(buffers.at(i), buffers.at(i) + kRequestBytes)
                            : rig.fake.contents(fakeNode("sda"), o.offset, kRequestBytes);
    result.dataInPlace = result.dataInPlace && held == expected;
  }
  if (c.refused != 0) {
    EXPECT_EQ(rig.platform.takeWriteRefusal(), c.refusal);
    EXPECT_EQ(rig.fake.pwrites, 0) << "neither the ring nor a thread got the write";
  }
  rig.platform.closeHandle(h);
  return result;
}

std::vector<Outcome> whole(std::initializer_list<size_t> except, Outcome instead) {
  std::vector<Outcome> all;
  for (size_t i = 0; i < 4; ++i) all.push_back({offsetOf(i), kRequestBytes, 0});
  for (size_t i : except) all[i] = {offsetOf(i), instead.moved, instead.error};
  return all;
}

TEST(LinuxBlockQueueTest, RingAndThreadsGiveTheSameOutcomesInSubmissionOrder) {
  const auto system = [](FakeSysCalls& s) {
    s.addFile("/proc/self/mountinfo", "20 1 8:2 / / rw - ext4 /dev/sda2 rw\n");
  };
  const auto dataMounted = [](FakeSysCalls& s) {
    s.addFile("/proc/self/mountinfo", "28 1 8:1 / /mnt/data rw,relatime - ext4 /dev/sda1 rw\n");
  };
  const auto unplug = [](FakeSysCalls& s) {
    s.remove(fakeNode("sda"));
    s.remove(kSdaPath);
    s.remove("/sys/block/sda");
  };
  const Case cases[] = {
      {"Reads", BlockDirection::Read, nullptr, nullptr, whole({}, {}), 0, ""},
      {"Writes", BlockDirection::Write, nullptr, nullptr, whole({}, {}), 0, ""},
      {"BadSectorMidBatch", BlockDirection::Read,
       [](FakeSysCalls& s) { s.failReadAt(fakeNode("sda"), offsetOf(1) + 4096, -EIO); }, nullptr,
       whole({1}, {0, 0, ERROR_CRC}), 0, ""},
      {"WriteFaultMidBatch", BlockDirection::Write,
       [](FakeSysCalls& s) { s.failWriteAt(fakeNode("sda"), offsetOf(2), -EIO); }, nullptr,
       whole({2}, {0, 0, ERROR_WRITE_FAULT}), 0, ""},
      {"ShortWrite", BlockDirection::Write,
       [](FakeSysCalls& s) { s.failWriteAt(fakeNode("sda"), offsetOf(1) + 4096, 0); }, nullptr,
       whole({1}, {0, 4096, ERROR_WRITE_FAULT}), 0, ""},
      {"DiskUnplugged", BlockDirection::Read, nullptr, unplug, whole({0, 1, 2, 3}, {0, 0, ERROR_DEVICE_NOT_CONNECTED}),
       0, ""},
      {"SystemDisk", BlockDirection::Write, system, nullptr, {}, ERROR_ACCESS_DENIED,
       "Writing to /dev/sda was refused: the disk holds the running system (mounted at /)."},
      {"MountedNotReleased", BlockDirection::Write, dataMounted, nullptr, {}, ERROR_ACCESS_DENIED,
       "Writing to /dev/sda was refused: the sectors belong to a mounted file system (mounted at /mnt/data)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Seen ring = run(c, true);
    const Seen threads = run(c, false);
    EXPECT_EQ(ring.engine, "io_uring");
    EXPECT_EQ(threads.engine, "threads");
    EXPECT_EQ(ring.outcomes, c.outcomes);
    EXPECT_EQ(threads.outcomes, ring.outcomes);
    EXPECT_TRUE(ring.dataInPlace);
    EXPECT_TRUE(threads.dataInPlace);
  }
}

// A queue outlives neither its requests nor the descriptors they use: closing the handle
// under it keeps them, and closing the queue waits for every request still out.
TEST(LinuxBlockQueueTest, ClosingWaitsForWhatIsInFlight) {
  for (const bool ring : {true, false}) {
    SCOPED_TRACE(ring ? "io_uring" : "threads");
    QueueRig rig(ring);
    const Handle h = rig.platform.createFile("\\\\.\\PhysicalDrive0", kReadWrite, 3, 3, 0);
    BlockBuffers buffers(3, kRequestBytes);
    std::unique_ptr<BlockQueue> queue = rig.platform.openBlockQueue(h, BlockDirection::Write, 512);
    ASSERT_NE(queue, nullptr);
    for (size_t i = 0; i < 3; ++i) {
      uint32_t error = 0;
      ASSERT_TRUE(queue->submit({offsetOf(i), kRequestBytes, buffers.at(i)}, error)) << error;
    }
    EXPECT_TRUE(rig.platform.closeHandle(h));
    EXPECT_GT(rig.fake.openFds(), 0) << "requests in flight keep their descriptors";
    uint32_t error = 0;
    EXPECT_FALSE(queue->submit({offsetOf(3), kRequestBytes, buffers.at(0)}, error));
    EXPECT_EQ(error, ERROR_INVALID_HANDLE);
    queue.reset();
    EXPECT_EQ(rig.script.unreapedAtExit, 0u);
    EXPECT_EQ(rig.fake.openFds(), 0);
    EXPECT_EQ(rig.fake.calls.back(), "close /dev/sda (rw)") << "the write session ends with the queue";
  }
}

TEST(LinuxBlockQueueTest, LimitsFromTheDisksQueue) {
  struct Sysfs {
    std::vector<std::pair<const char*, const char*>> attributes;
    uint32_t blockBytes;
    BlockLimits limits;  // logical block, largest request, in flight, rotational
  };
  const Sysfs cases[] = {
      {{}, 512, {512, 128 * 1024, 32, false}},
      {{{"max_sectors_kb", "2560\n"}, {"rotational", "1\n"}, {"nr_requests", "2\n"}}, 512, {512, 1 << 20, 2, true}},
      {{{"max_sectors_kb", "1\n"}, {"rotational", "0\n"}, {"nr_requests", "256\n"}}, 4096, {4096, 4096, 32, false}},
  };
  for (const Sysfs& c : cases) {
    SCOPED_TRACE(c.attributes.size());
    FakeSysCalls sys;
    for (const auto& [name, value] : c.attributes) sys.addFile(std::string("/sys/block/sdz/queue/") + name, value);
    const BlockLimits l = blockQueueLimits(sys, sys.root(), "sdz", c.blockBytes);
    EXPECT_EQ(
        std::tie(l.logicalBlockBytes, l.maxTransferBytes, l.maxInFlight, l.rotational),
        std::tie(c.limits.logicalBlockBytes, c.limits.maxTransferBytes, c.limits.maxInFlight, c.limits.rotational));
  }
}

// The one place liburing itself runs in the tests: on a file of the test's own, never a
// device. Each completion must come back with its own tag and byte count.
TEST(LinuxBlockQueueTest, TheKernelsRingMovesBytesOfAFile) {
  std::unique_ptr<RingOps> ring = makeIoUring();
  if (const int r = ring->init(4); r < 0) GTEST_SKIP() << "no io_uring here: " << std::strerror(-r);
  std::string path = ::testing::TempDir() + "ring_XXXXXX";
  const int fd = ::mkstemp(path.data());
  ASSERT_GE(fd, 0);
  ::unlink(path.c_str());
  BlockBuffers buffers(2, 4096);
  std::memset(buffers.at(0), 0x5A, 4096);
  uint64_t tag = 0;
  int32_t result = 0;
  ASSERT_TRUE(ring->prepare(true, fd, buffers.at(0), 4096, 8192, 7));
  EXPECT_EQ(ring->submit(), 1);
  EXPECT_EQ(ring->reap(true, tag, result), 1);
  EXPECT_EQ(std::tie(tag, result), std::make_tuple(uint64_t{7}, int32_t{4096}));
  ASSERT_TRUE(ring->prepare(false, fd, buffers.at(1), 4096, 8192, 8));
  EXPECT_EQ(ring->reap(true, tag, result), 1) << "waiting submits what is still prepared";
  EXPECT_EQ(std::tie(tag, result), std::make_tuple(uint64_t{8}, int32_t{4096}));
  EXPECT_EQ(Bytes(buffers.at(1), buffers.at(1) + 4096), Bytes(4096, 0x5A));
  EXPECT_EQ(ring->reap(false, tag, result), 0);
  ring->exit();
  ::close(fd);
}

}  // namespace
}  // namespace palvoro::real::test
