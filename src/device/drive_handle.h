#pragma once
// One open drive or file. Every test and detection step reaches a drive through a
// DriveHandle; the result page is written through one too. It owns its handle (-1 when
// closed) and closes it when destroyed. The per-volume handles of a locked drive belong
// to the caller's array and are only closed through close(volumes, count).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "device/device_status.h"
#include "platform/platform.h"

namespace palvoro {

// Room the tests keep for the locked volumes of one drive.
inline constexpr int kVolumeHandleSlots = 80;

class DriveHandle {
 public:
  explicit DriveHandle(Platform& platform);
  ~DriveHandle();
  DriveHandle(const DriveHandle&) = delete;
  DriveHandle& operator=(const DriveHandle&) = delete;

  Platform& platform() { return m_platform; }
  Handle handle() const { return m_handle; }
  bool isOpen() const { return m_handle != INVALID_HANDLE_VALUE; }

  // Takes over a raw handle (-1 to initialise).
  void attach(Handle handle) { m_handle = handle; }
  // Closes the own handle if open. With a volume array and a count of at least 1, also
  // closes each of the first `volumeCount` entries that is not -1 and sets it to -1.
  void close(std::span<Handle> volumes = {}, int volumeCount = 0);
  // Opens with share mode read and write; closes first.
  [[nodiscard]] bool openShared(const std::string& path, uint32_t access, uint32_t flags, uint32_t disposition);
  // Opens with share mode 0 and the open-always disposition; closes first.
  [[nodiscard]] bool openExclusive(const std::string& path, uint32_t access, uint32_t flags);
  // Sets the position from the beginning. Returns the low part of the new position or
  // INVALID_SET_FILE_POINTER; that value means failure only with a non-zero last error.
  [[nodiscard]] uint32_t seek(uint32_t offsetLow, int32_t* offsetHigh);
  // The same for a 64-bit byte offset; true on success.
  [[nodiscard]] bool seekTo(uint64_t byteOffset);
  [[nodiscard]] bool read(void* buffer, uint32_t length, uint32_t* bytesRead);
  // Succeeds only when every byte was written.
  [[nodiscard]] bool write(const void* buffer, uint32_t length);
  // Until the drive confirms it stored what was written, the writes are not proven.
  [[nodiscard]] bool flush();
  // Writes `text` followed by CR LF; succeeds only when the whole line was written. A
  // line longer than the usual 512-byte line buffer is written whole, never cut.
  [[nodiscard]] bool writeLine(const std::string& text);

  // The ATA commands the tests send through the open handle.
  [[nodiscard]] AtaStatus smartEnable(uint8_t unit);
  // 1 also when the drive reports a threshold exceeded (any answer but 4Fh/C2h).
  [[nodiscard]] AtaStatus smartReturnStatus(uint8_t unit);
  // READ VERIFY SECTORS EXT of `count` sectors (1..65536); only the low 32 bits of the
  // LBA reach the drive.
  [[nodiscard]] AtaStatus readVerifyExt(uint8_t unit, uint64_t lba, uint32_t count);
  // SANITIZE BLOCK ERASE EXT followed by SANITIZE STATUS EXT.
  [[nodiscard]] AtaStatus sanitizeBlockErase(uint8_t unit);

 private:
  Platform& m_platform;
  Handle m_handle = INVALID_HANDLE_VALUE;
};

// "\\.\PhysicalDriveN".
std::string physicalDrivePath(int driveNumber);

// A drive and the volumes on it, as the locking open needs them: `volumeCount` volumes,
// of which those with a letter in `volumeLetters` can be opened.
struct LockedDrive {
  int physicalDriveNumber = 0;
  int volumeCount = 0;
  std::string_view volumeLetters;
};

// Opens the drive for a write test and locks and dismounts each of its volumes, keeping
// their handles in `volumes` (unopened entries are -1). Returns None, NoDrive when the
// drive does not open, or TooManyVolumes when the drive has more volumes than `volumes` has room for (then no
// volume is opened and the drive stays open). `openedVolumes` receives how many opened.
[[nodiscard]] DriveRequestError openDriveLocked(DriveHandle& drive, const LockedDrive& target,
                                                std::span<Handle> volumes, int* openedVolumes = nullptr);

}  // namespace palvoro
