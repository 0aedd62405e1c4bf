// Arbitrary bytes as drive replies: IDENTIFY DEVICE data, standard INQUIRY data and the
// unit serial number page. Whatever a drive or bridge returns, the parsers must not read
// or write outside their buffers (the sanitizer build checks that) and every text they
// store must stay zero-terminated within its field and its character limit.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "device/device_test_support.h"
#include "device/scsi_transport.h"
#include "discovery/identify.h"
#include "discovery/inquiry_identity.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using Random = std::mt19937;

uint8_t randomByte(Random& random) { return static_cast<uint8_t>(random() & 0xFF); }

// Mostly arbitrary bytes, sometimes text-like ones (blanks, printable characters and
// zeros), which reach the trimming paths far more often.
void fill(Random& random, uint8_t* bytes, size_t n) {
  const unsigned style = random() % 3;
  for (size_t i = 0; i < n; ++i) {
    switch (style) {
      case 0: bytes[i] = randomByte(random); break;
      case 1: bytes[i] = static_cast<uint8_t>(" \t\r\nAZaz09-_\0\xA0\xFF"[random() % 15]); break;
      default: bytes[i] = (random() % 4 == 0) ? static_cast<uint8_t>(' ') : static_cast<uint8_t>(0x21 + random() % 94); break;
    }
  }
}

// A record whose every byte is garbage, so a field the parser forgot to terminate shows.
DriveRecord garbageRecord(Random& random) {
  DriveRecord r;
  auto* bytes = reinterpret_cast<uint8_t*>(&r);
  for (size_t i = 0; i < sizeof r; ++i) bytes[i] = static_cast<uint8_t>(0x80 | randomByte(random));
  return r;
}

template <size_t N>
void expectText(const char (&field)[N], size_t maxChars, const char* what) {
  const void* end = std::memchr(field, 0, N);
  ASSERT_NE(end, nullptr) << what << " is not terminated within its " << N << " bytes";
  EXPECT_LE(std::strlen(field), maxChars) << what;
}

TEST(ReplyFuzz, IdentifyReplies) {
  Random random(0x1D3A7u);
  for (int iteration = 0; iteration < 3000; ++iteration) {
    SCOPED_TRACE("iteration " + std::to_string(iteration));
    uint8_t reply[kIdentifyBytes];
    fill(random, reply, sizeof reply);
    DriveRecord r = garbageRecord(random);
    parseIdentifyReply(reply, r, (random() & 1) != 0);
    expectText(r.model, 40, "model");
    expectText(r.serialNumber, 20, "serial");
    expectText(r.firmwareRevision, 8, "firmware");
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// The vendor exceptions fire only on particular texts, so some replies carry them.
void plantVendorMarks(Random& random, uint8_t (&inquiry)[kInquiryBytes]) {
  switch (random() % 5) {
    case 0: std::memcpy(inquiry + 8, "SEAGATE ", 8); break;
    case 1: std::memcpy(inquiry + 8, "VARNHL  ", 8); break;
    case 2: std::memcpy(inquiry + 36, "905", 3); break;
    default: break;
  }
}

TEST(ReplyFuzz, InquiryAndSerialPageReplies) {
  Random random(0x5C51u);
  const int32_t busTypes[] = {0, 1, 4, 7, 11, -1, 83, 0x7FFFFFFF};
  for (int iteration = 0; iteration < 4000; ++iteration) {
    SCOPED_TRACE("iteration " + std::to_string(iteration));
    uint8_t inquiry[kInquiryBytes];
    fill(random, inquiry, sizeof inquiry);
    plantVendorMarks(random, inquiry);
    uint8_t page[kVpdSerialPageBytes];
    fill(random, page, sizeof page);
    if (random() % 2 == 0) page[1] = 0x80;
    const bool pageRead = random() % 4 != 0;
    DriveRecord r = garbageRecord(random);
    r.busType = busTypes[random() % std::size(busTypes)];
    const InquiryForm form = (random() & 1) != 0 ? InquiryForm::GenericScsi : InquiryForm::Enclosure;
    inquiryIdentityFromReplies(inquiry, form, pageRead ? page : nullptr, r);
    expectText(r.model, 40, "model");
    expectText(r.serialNumber, 20, "serial");
    expectText(r.firmwareRevision, 8, "firmware");
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// The same through the simulated device: replies of any length, shorter or longer than
// what was asked for, reach the parser through the SCSI commands.
TEST(ReplyFuzz, InquiryRepliesFromTheDevice) {
  Random random(0xD15Cu);
  for (int iteration = 0; iteration < 300; ++iteration) {
    SCOPED_TRACE("iteration " + std::to_string(iteration));
    sim::SimDrive d;
    d.number = 0;
    d.transport = sim::Transport::Scsi;
    d.ata.units[0].media = sim::SimMedia(1 + random() % 100000, 512);
    sim::applyTransportDefaults(d);
    d.scsi.inquiry.resize(random() % 97);
    fill(random, d.scsi.inquiry.data(), d.scsi.inquiry.size());
    d.scsi.vpd.erase(0x80);
    if (random() % 4 != 0) {
      std::vector<uint8_t> page(random() % 256);
      fill(random, page.data(), page.size());
      if (page.size() > 1 && random() % 2 == 0) page[1] = 0x80;
      d.scsi.vpd[0x80] = page;
    }
    sim::SimPlatform platform(devtest::machineWith({d}));
    const Handle h = platform.createFile(devtest::kDrive0, devtest::kReadWrite, devtest::kShareReadWrite,
                                         OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t inquiry[kInquiryBytes] = {};
    (void)scsiInquiry(platform, h, inquiry);
    DriveRecord r = garbageRecord(random);
    r.busType = (random() & 1) != 0 ? kBusFireWire : kBusScsi;
    inquiryIdentity(platform, h, inquiry, InquiryForm::GenericScsi, r);
    expectText(r.model, 40, "model");
    expectText(r.serialNumber, 20, "serial");
    expectText(r.firmwareRevision, 8, "firmware");
    devtest::RecordingPrompter prompter;
    readCapacity(platform, prompter, h, r);
    EXPECT_EQ(r.totalSectors, r.identifiedSectors);
    EXPECT_TRUE(prompter.prompts.empty());
    platform.closeHandle(h);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace palvoro
