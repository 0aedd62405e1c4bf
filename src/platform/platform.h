#pragma once
// The operating-system seam. The whole system is written against these calls, shaped
// like the Windows calls it was designed for: a handle in, byte buffers in and out, a
// success flag and a per-thread last-error value. Backends: the simulated machine
// (platform/sim) and, for real drives, Linux.
//
// Device names start with "\\.\" ("\\.\PhysicalDrive0", "\\.\C:"); every other path is a
// plain file and reaches the real file system in every backend, because the result page
// and the help pages are real files.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_io.h"
#include "platform/prompter.h"
#include "platform/win_types.h"

namespace palvoro {

// How the user knows a volume: letters are the program's keys for volumes, but only the
// Windows-shaped machine shows them.
struct VolumeName {
  std::string name;         // "C:\" on the Windows-shaped machine; the mount point ("/home") on Linux
  std::string fileSystem;   // "NTFS"; the kernel's name on Linux ("ext4", "vfat"); empty when unknown
  bool mountPoint = false;  // `name` is a mount point, and the letter means nothing to the user
};

// One top-level window of the desktop, as EnumWindows lists it.
struct TopLevelWindow {
  std::string title;   // GetWindowTextA, at most 255 characters
  bool visible = false;  // WS_VISIBLE
  uint32_t style = 0;  // GWL_STYLE: the WS_* bits as Windows gives them
};

class Platform {
 public:
  virtual ~Platform() = default;

  // CreateFileA. Returns INVALID_HANDLE_VALUE and sets the last error on failure.
  [[nodiscard]] virtual Handle createFile(const std::string& path, uint32_t access, uint32_t shareMode,
                                          uint32_t disposition, uint32_t flags) = 0;
  // CloseHandle. Not [[nodiscard]]: the handle is gone whatever the answer, and no caller
  // has anything to undo when the close itself reports a failure.
  virtual bool closeHandle(Handle handle) = 0;
  // DeviceIoControl. `in` and `out` may be the same buffer, as the ATA command record is.
  [[nodiscard]] virtual bool deviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                                             uint32_t outSize, uint32_t* bytesReturned) = 0;
  // SetFilePointer: a 64-bit distance as low part and optional high part. Returns the low
  // part of the new position (the high part goes back through distanceHigh), or
  // INVALID_SET_FILE_POINTER with a non-zero last error on failure; on success the last
  // error is 0, so a position whose low part happens to be FFFFFFFFh can be told apart.
  [[nodiscard]] virtual uint32_t setFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                                                uint32_t moveMethod) = 0;
  // ReadFile / WriteFile, synchronous.
  [[nodiscard]] virtual bool readFile(Handle handle, void* buffer, uint32_t size, uint32_t* bytesRead) = 0;
  [[nodiscard]] virtual bool writeFile(Handle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) = 0;
  // A queue of whole-block transfers on an open drive handle (block_io.h), for a scan, an
  // erase or a read-back. The handle's position is its own and the queue's requests name
  // their offsets. Every write request passes the same guard as a writeFile on the handle.
  // This default sends one request at a time through setFilePointer and readFile or
  // writeFile. nullptr, with the last error set, when the handle cannot carry a queue.
  [[nodiscard]] virtual std::unique_ptr<BlockQueue> openBlockQueue(Handle handle, BlockDirection direction,
                                                                   uint32_t logicalBlockBytes);
  // FlushFileBuffers: what the handle wrote reaches the media. False when the device did
  // not confirm it stored the data, which makes the writes before it unproven.
  [[nodiscard]] virtual bool flushFileBuffers(Handle handle) = 0;
  // Why the system last refused a write, a layout deletion or a destructive command, in
  // a sentence the user can act on; empty when nothing was refused. Reading it clears it.
  // Like the last error, it is the calling thread's own.
  virtual std::string takeWriteRefusal() { return {}; }

  // The numbers N of the "\\.\PhysicalDriveN" devices present now, ascending. Numbers
  // may be sparse and large (a disk that went away keeps its number unused), so detection
  // probes these rather than counting up from 0.
  virtual std::vector<int> physicalDriveNumbers() = 0;

  // GetLogicalDrives: bit 0 is A:, bit 2 is C:, ...
  virtual uint32_t logicalDrives() = 0;
  // GetDriveTypeA for a root such as "C:\".
  virtual uint32_t driveType(const std::string& root) = 0;
  // GetWindowsDirectoryA, for example "C:\Windows".
  virtual std::string windowsDirectory() = 0;
  // GetVersion: the major version is in the low byte, the minor in the next.
  virtual uint32_t version() = 0;
  // Whether the process token lists the built-in Administrators group (S-1-5-32-544),
  // enabled or not.
  [[nodiscard]] virtual bool userIsAdministrator() = 0;
  // The device paths of the present interfaces of a device interface class, given as
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}". A path opens with createFile.
  virtual std::vector<std::string> deviceInterfaces(const std::string& classGuid) = 0;
  // GetVolumeInformationA for a root such as "C:": the label and the file system name.
  [[nodiscard]] virtual bool volumeInformation(const std::string& root, std::string* label,
                                               std::string* fileSystem) = 0;
  // The name and file system the user knows the volume behind `letter` by. This answer is
  // the Windows one: the letter's root, and the file system GetVolumeInformationA names.
  virtual VolumeName volumeName(char letter);
  // The title of the program's windows and boxes: kProductCaption on the Windows-shaped
  // machine; a backend for another system answers kProgramTitle, since the program does
  // not run on Windows there.
  virtual std::string productTitle() const { return kProductCaption; }
  // GetDiskFreeSpaceExA for a root: total and free bytes.
  [[nodiscard]] virtual bool diskSpace(const std::string& root, uint64_t* totalBytes, uint64_t* freeBytes) = 0;
  // Sleep. The simulated machine advances its clock instead of waiting.
  virtual void sleep(uint32_t milliseconds) = 0;
  // A clock that only goes forward, in microseconds: how long a transfer took. The
  // simulated machine answers with its own model of the drive's time, so that a test knows
  // each block's time exactly.
  virtual uint64_t monotonicMicroseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  // EnumWindows: the desktop's top-level windows in the order the system lists them.
  virtual std::vector<TopLevelWindow> topLevelWindows() = 0;

  // The calling thread's last error, as GetLastError / SetLastError.
  uint32_t lastError() const;
  void setLastError(uint32_t error) const;
};

}  // namespace palvoro
