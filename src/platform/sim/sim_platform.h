#pragma once
// The simulated machine behind the platform seam. It answers every request as a driver
// and a drive would: it checks each record (lengths, offsets, directions, register
// values) with its own decoding and fails malformed ones with a platform error, keeps a
// log of what it received, and lets a test inject faults. It never includes the command
// layer, so a mistake there cannot be mirrored here.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_machine.h"

namespace palvoro::sim {

// One request as the simulator received it.
struct SimRequest {
  enum class Kind { Open, Close, Ioctl, Seek, Read, Write };
  Kind kind = Kind::Ioctl;
  Handle handle = INVALID_HANDLE_VALUE;
  std::string path;                 // the name the handle was opened with
  uint32_t access = 0;              // Open
  uint32_t shareMode = 0;           // Open
  uint32_t disposition = 0;         // Open
  uint32_t flags = 0;               // Open
  uint32_t code = 0;                // Ioctl: control code
  std::vector<uint8_t> input;       // Ioctl: the inSize input bytes; Write: the data
  uint32_t inSize = 0;              // Ioctl
  uint32_t outSize = 0;             // Ioctl; Read and Write: the length asked for
  uint64_t position = 0;            // Seek: new position; Read and Write: where it began
  uint64_t clockMs = 0;             // simulated time when the request arrived
  bool ok = false;                  // the call's result
  uint32_t error = 0;               // the last error it left
};

// A fault a test arms. It fires on matching requests to one drive while `remaining` is
// not 0 (-1: for ever), after letting `skip` of them through. `command`/`features` match
// the ATA command of ATA pass-through, the SMART driver requests, and the ATA command a
// SCSI pass-through block carries (ATA PASS-THROUGH (12)/(16), the vendor block).
// `property`, `nvmeDataType` and `nvmeValue` match storage property queries: an NVMe
// Identify (data type 1, value the CNS) or log page (2, value the log identifier).
struct SimFault {
  enum class Kind {
    FailRequest,   // the request fails with `error`, nothing reaches the drive
    AtaError,      // the drive completes the ATA command with ERR and `ataError`
    Vanish,        // the drive disappears: this and every later request fails
    Registers,     // the drive completes the command but returns `lbaMid`/`lbaHigh`
    NvmeStatus,    // the NVMe controller completes the protocol command with `nvmeStatus`
    ShortReply,    // the request succeeds but hands back only `replyBytes` bytes, zeros
                   // after them: an NVMe page cut short, its descriptor still naming the
                   // full length
    Temperature,   // the drive is at `celsius` from now on (following its thermal model,
                   // if it has one), and the request goes on untouched
  };
  Kind kind = Kind::FailRequest;
  int drive = 0;
  std::optional<uint32_t> ioctl;    // match this control code only
  std::optional<uint8_t> command;   // match this ATA command byte only
  std::optional<uint8_t> features;  // ... and this features byte
  std::optional<uint32_t> property;      // match storage property queries with this PropertyId
  std::optional<uint32_t> nvmeDataType;  // ... whose NVMe data type is this
  std::optional<uint32_t> nvmeValue;     // ... and whose CNS or log identifier is this
  bool onRead = false;              // match ReadFile on the drive
  bool onWrite = false;             // match WriteFile on the drive
  bool onFlush = false;             // match FlushFileBuffers on the drive: its cache lost the writes
  uint32_t error = 1117;            // ERROR_IO_DEVICE
  uint8_t ataError = 0x04;          // ABRT
  uint8_t lbaMid = 0;               // Registers
  uint8_t lbaHigh = 0;              // Registers
  uint16_t nvmeStatus = 0x0006;     // NvmeStatus: (type << 8) | code; 06h internal error
  uint32_t replyBytes = 0;          // ShortReply
  int celsius = 0;                  // Temperature
  int remaining = -1;
  int skip = 0;                     // matching requests to let through before firing
};

class SimPlatform : public Platform {
 public:
  explicit SimPlatform(SimMachine machine);
  ~SimPlatform() override;

  Handle createFile(const std::string& path, uint32_t access, uint32_t shareMode,
                    uint32_t disposition, uint32_t flags) override;
  bool closeHandle(Handle handle) override;
  bool deviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t* bytesReturned) override;
  uint32_t setFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                          uint32_t moveMethod) override;
  bool readFile(Handle handle, void* buffer, uint32_t size, uint32_t* bytesRead) override;
  bool writeFile(Handle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) override;
  bool flushFileBuffers(Handle handle) override;
  // The present drives' numbers: what the machine holds, pulled drives left out.
  std::vector<int> physicalDriveNumbers() override;
  uint32_t logicalDrives() override;
  uint32_t driveType(const std::string& root) override;
  std::string windowsDirectory() override;
  uint32_t version() override;
  bool userIsAdministrator() override;
  std::vector<std::string> deviceInterfaces(const std::string& classGuid) override;
  bool volumeInformation(const std::string& root, std::string* label, std::string* fileSystem) override;
  bool diskSpace(const std::string& root, uint64_t* totalBytes, uint64_t* freeBytes) override;
  void sleep(uint32_t milliseconds) override;
  std::vector<TopLevelWindow> topLevelWindows() override;

  // The machine, for tests to arrange and inspect. Not to be touched while another
  // thread is inside a request.
  SimMachine& machine() { return m_machine; }
  // Pulls drive `number` out or plugs it in again, under the machine's lock: runs on other
  // drives go on meanwhile.
  void plug(int number, bool present);
  // Sets SMART attribute `attrId`'s raw value on drive `number` (its first unit), under the
  // machine's lock, as sectors going bad between two runs change it; a drive that did not
  // list the attribute starts to, as a drive does once it has something to count. False
  // when there is no such drive, or it keeps no SMART attributes (an NVMe drive).
  [[nodiscard]] bool setAttributeRaw(int number, int attrId, uint64_t raw);
  SimDrive& drive(int number);
  SimVolume& volume(char letter);

  // The requests received so far, oldest first.
  std::vector<SimRequest> log() const;
  // Only the DeviceIoControl requests with `code`.
  std::vector<SimRequest> ioctls(uint32_t code) const;
  void clearLog();
  // Logging every sector transfer costs memory on long scans; benchmarks turn it off.
  void setLogging(bool enabled);

  void injectFault(const SimFault& fault);
  void clearFaults();
  // Drive `number` is at `celsius` now: from here its thermal model (a still one when it
  // has none) carries the temperature on, and every report the drive makes says it.
  void setTemperature(int number, int celsius);

  // Simulated time in milliseconds; sleep() advances it.
  uint64_t clockMs() const;
  void advanceClock(uint64_t milliseconds);
  // The drives' clock, in microseconds: the time moved by hand, plus what every transfer
  // on a drive's media took (its slow regions); never the wall time.
  uint64_t monotonicMicroseconds() override;
  // The drive's own queue (SimQueueModel), placed on the machine's clock.
  std::unique_ptr<BlockQueue> openBlockQueue(Handle handle, BlockDirection direction,
                                             uint32_t logicalBlockBytes) override;
  // From now on the simulated time also moves with the wall clock, as it must for a
  // person watching a self-test run in a program; tests leave it still and move it by hand.
  void followWallClock();
  // Handles still open (leak checks).
  size_t openHandleCount() const;

 private:
  // What one handle refers to.
  struct OpenHandle {
    enum class Kind { Drive, Volume, File, Port };
    Kind kind = Kind::File;
    std::string path;
    uint32_t access = 0;
    uint32_t shareMode = 0;
    uint32_t flags = 0;
    int drive = -1;           // Drive
    uint64_t arrival = 0;     // Drive: the arrival of the drive it was opened on
    char letter = 0;          // Volume
    int fd = -1;              // File
    int port = -1;            // Port: N of "\\.\ScsiN:"
    uint64_t position = 0;    // Drive: byte position
    bool holdsLock = false;   // Volume: this handle locked it
  };

  OpenHandle* find(Handle handle);
  // The drive a drive handle was opened on, while it is still plugged in: nullptr once it
  // was pulled, even if it (or another) has been plugged in again since.
  SimDrive* liveDrive(const OpenHandle& h);
  Handle addHandle(OpenHandle entry);
  bool fail(uint32_t error);
  void record(const SimRequest& request);
  // Ends a request with its outcome and logs it; a success leaves ERROR_SUCCESS behind.
  bool complete(SimRequest& request, bool ok);
  // What a fault may match of a storage property query; -1 where the request has none.
  struct QueryKey {
    int64_t property = -1;
    int64_t nvmeDataType = -1;
    int64_t nvmeValue = -1;
  };
  const SimFault* matchFault(int drive, uint32_t code, int ataCommand, int ataFeatures,
                             bool isRead, bool isWrite, const QueryKey& query);

  // ReadFile (`kind` Read, into `into`) or WriteFile (`kind` Write, from `from`): the
  // checks both make, then the transfer; the other buffer is null. A queued request names
  // its byte offset in `at` and leaves the handle's position alone, and takes the media's
  // time in `mediaMicroseconds` for its queue to place on the clock.
  bool transfer(Handle handle, SimRequest::Kind kind, void* into, const void* from, uint32_t size, uint32_t* moved,
                const uint64_t* at = nullptr, uint64_t* mediaMicroseconds = nullptr);
  // Why a queued request could not be placed on `handle` now, as a seek would fail
  // (ERROR_INVALID_HANDLE, ERROR_DEVICE_NOT_CONNECTED), or 0.
  uint32_t placementError(Handle handle);
  // Drive `drive`'s own time: the hand-moved clock plus what its own transfers took, from
  // where the machine's clock stood when the drive was first used. Each drive has its own,
  // as drives on one machine work side by side.
  uint64_t driveMicroseconds(int drive);
  // The drive's time moves on to `micros` (never back): a request of its has completed.
  // The machine's clock follows the latest drive.
  void advanceDriveTo(int drive, uint64_t micros);
  // The part of the clock moved by hand (sleep(), advanceClock()): time that passes for
  // every drive alike.
  uint64_t handMicroseconds() const;
  friend class SimBlockQueue;
  bool ataPassThrough(OpenHandle& h, SimDrive& drive, const std::vector<uint8_t>& in,
                      uint8_t* out, uint32_t outSize, uint32_t* bytesReturned);
  bool volumeControl(Handle handle, OpenHandle& h, uint32_t code, uint8_t* out, uint32_t outSize,
                     uint32_t* bytesReturned);
  bool diskControl(OpenHandle& h, SimDrive& drive, uint32_t code, uint8_t* out, uint32_t outSize,
                   uint32_t* bytesReturned);
  bool smartDriverControl(SimDrive& drive, uint32_t code, const std::vector<uint8_t>& in, uint8_t* out,
                          uint32_t outSize, uint32_t* bytesReturned);
  bool miniportControl(OpenHandle& h, const std::vector<uint8_t>& in, uint8_t* out, uint32_t outSize,
                       uint32_t* bytesReturned);
  bool scsiPassThrough(OpenHandle& h, SimDrive& drive, const std::vector<uint8_t>& in, uint8_t* out,
                       uint32_t outSize, uint32_t* bytesReturned);
  bool bridgeControl(SimDrive& drive, uint32_t code, uint8_t* out, uint32_t outSize, uint32_t* bytesReturned);
  bool queryProperty(SimDrive& drive, const std::vector<uint8_t>& in, uint8_t* out, uint32_t outSize,
                     uint32_t* bytesReturned);
  bool protocolCommand(OpenHandle& h, SimDrive& drive, const std::vector<uint8_t>& in, uint8_t* out,
                       uint32_t outSize, uint32_t* bytesReturned);
  std::vector<SimDrive*> portTargets(int port);
  bool sharingAllows(const OpenHandle& candidate) const;
  bool writeBlockedByVolume(const SimDrive& drive, uint64_t lba, uint64_t count) const;
  void writePartitionTable(SimDrive& drive);
  // The thermal model: the cooling since it was last reckoned, the heat of `bytes`
  // transferred, and the temperature put where the drive reports it.
  void coolDrive(SimDrive& drive);
  void warmDrive(SimDrive& drive, uint64_t bytes);
  void placeTemperature(SimDrive& drive, double celsius);
  void refreshVolumesFromPartitionTable(SimDrive& drive);

  mutable std::recursive_mutex m_mutex;
  SimMachine m_machine;
  std::map<Handle, OpenHandle> m_handles;
  Handle m_nextHandle = 0x100;
  std::vector<SimRequest> m_log;
  bool m_logging = true;
  std::vector<SimFault> m_faults;
  // Simulated now: what was added by hand, plus the wall time since followWallClock().
  uint64_t nowMs() const;

  // Atomics, so that the scan's clock reads take no lock: the scan reads the clock twice a
  // block, and a lock there would cost the scan its speed against a bare loop.
  std::atomic<uint64_t> m_clockMs{0};
  std::atomic<uint64_t> m_transferMicroseconds{0};  // the latest of the drives' own times
  std::map<int, uint64_t> m_driveTransfer;           // each drive's own transfer time, by number
  std::optional<std::chrono::steady_clock::time_point> m_wallStart;
  uint8_t m_pendingAtaError = 0;  // an armed AtaError fault for the request under way
  const SimFault* m_pendingRegisters = nullptr;  // an armed Registers fault
  std::optional<uint16_t> m_pendingNvmeStatus;    // an armed NvmeStatus fault
};

}  // namespace palvoro::sim
