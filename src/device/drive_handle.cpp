#include "device/drive_handle.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/ata_command.h"
#include "platform/ioctl_codes.h"

namespace palvoro {

DriveHandle::DriveHandle(Platform& platform) : m_platform(platform) {}

DriveHandle::~DriveHandle() { close(); }

void DriveHandle::close(std::span<Handle> volumes, int volumeCount) {
  if (m_handle != INVALID_HANDLE_VALUE) {
    m_platform.closeHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
  }
  if (volumes.empty() || volumeCount < 1) return;
  const size_t n = std::min(static_cast<size_t>(volumeCount), volumes.size());
  for (size_t i = 0; i < n; ++i) {
    if (volumes[i] != INVALID_HANDLE_VALUE) {
      m_platform.closeHandle(volumes[i]);
      volumes[i] = INVALID_HANDLE_VALUE;
    }
  }
}

bool DriveHandle::openShared(const std::string& path, uint32_t access, uint32_t flags, uint32_t disposition) {
  close();
  m_handle = m_platform.createFile(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition, flags);
  return m_handle != INVALID_HANDLE_VALUE;
}

bool DriveHandle::openExclusive(const std::string& path, uint32_t access, uint32_t flags) {
  close();
  m_handle = m_platform.createFile(path, access, 0, OPEN_ALWAYS, flags);
  return m_handle != INVALID_HANDLE_VALUE;
}

uint32_t DriveHandle::seek(uint32_t offsetLow, int32_t* offsetHigh) {
  return m_platform.setFilePointer(m_handle, static_cast<int32_t>(offsetLow), offsetHigh, FILE_BEGIN);
}

bool DriveHandle::seekTo(uint64_t byteOffset) {
  int32_t high = static_cast<int32_t>(byteOffset >> 32);
  const uint32_t low = seek(static_cast<uint32_t>(byteOffset & 0xFFFFFFFFu), &high);
  return !(low == INVALID_SET_FILE_POINTER && m_platform.lastError() != ERROR_SUCCESS);
}

bool DriveHandle::read(void* buffer, uint32_t length, uint32_t* bytesRead) {
  return m_platform.readFile(m_handle, buffer, length, bytesRead);
}

bool DriveHandle::write(const void* buffer, uint32_t length) {
  uint32_t written = 0;
  return m_platform.writeFile(m_handle, buffer, length, &written) && written == length;
}

bool DriveHandle::flush() { return m_platform.flushFileBuffers(m_handle); }

bool DriveHandle::writeLine(const std::string& text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  if (line.size() > UINT32_MAX) return false;
  return write(line.data(), static_cast<uint32_t>(line.size()));
}

AtaStatus DriveHandle::smartEnable(uint8_t unit) {
  const AtaReply r = sendAtaCommand(m_platform, m_handle, smartEnableOperationsCommand(unit));
  return r.requestOk && !r.errSet() && r.smartSignature() ? AtaStatus::Success : AtaStatus::Failure;
}

AtaStatus DriveHandle::smartReturnStatus(uint8_t unit) {
  const AtaReply r = sendAtaCommand(m_platform, m_handle, smartReturnStatusCommand(unit));
  return r.requestOk && !r.errSet() && r.smartSignature() ? AtaStatus::Success : AtaStatus::Failure;
}

AtaStatus DriveHandle::readVerifyExt(uint8_t unit, uint64_t lba, uint32_t count) {
  // The count register holds 1..65536 (0 meaning 65536); anything else cannot be sent
  // as asked, and sending less would verify less than the caller believes.
  if (count == 0 || count > 65536) return AtaStatus::Failure;
  const AtaReply r =
      sendAtaCommand(m_platform, m_handle, readVerifySectorsExtCommand(unit, lba, static_cast<uint16_t>(count & 0xFFFF)));
  return r.requestOk && !r.errSet() ? AtaStatus::Success : AtaStatus::Failure;
}

AtaStatus DriveHandle::sanitizeBlockErase(uint8_t unit) {
  const AtaReply erase = sendAtaCommand(m_platform, m_handle, sanitizeBlockEraseExtCommand(unit));
  if (!erase.requestOk || erase.errSet()) return AtaStatus::Failure;
  const AtaReply status = sendAtaCommand(m_platform, m_handle, sanitizeStatusExtCommand(unit));
  return status.requestOk && !status.errSet() ? AtaStatus::Success : AtaStatus::Failure;
}

std::string physicalDrivePath(int driveNumber) { return "\\\\.\\PhysicalDrive" + std::to_string(driveNumber); }

DriveRequestError openDriveLocked(DriveHandle& drive, const LockedDrive& target, std::span<Handle> volumes,
                                  int* openedVolumes) {
  if (openedVolumes != nullptr) *openedVolumes = 0;
  if (!drive.openShared(physicalDrivePath(target.physicalDriveNumber), GENERIC_READ | GENERIC_WRITE, 0,
                        OPEN_EXISTING)) {
    return DriveRequestError::NoDrive;
  }
  const int volumeCount = std::max(target.volumeCount, 0);
  if (static_cast<size_t>(volumeCount) > volumes.size()) return DriveRequestError::TooManyVolumes;
  // Never read past the letters, whatever the count claims.
  const size_t letters = target.volumeLetters.size();
  Platform& platform = drive.platform();
  int opened = 0;
  for (int i = 0; i < volumeCount; ++i) {
    volumes[static_cast<size_t>(i)] = INVALID_HANDLE_VALUE;
    if (static_cast<size_t>(i) >= letters) continue;
    const std::string name = std::string("\\\\.\\") + target.volumeLetters[static_cast<size_t>(i)] + ":";
    const Handle h =
        platform.createFile(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    if (h == INVALID_HANDLE_VALUE) continue;
    volumes[static_cast<size_t>(i)] = h;
    ++opened;
    uint32_t returned = 0;
    // Best effort: a volume that stays mounted makes the system refuse the writes into it,
    // and the test reports those.
    (void)platform.deviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned);
    (void)platform.deviceIoControl(h, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned);
  }
  if (openedVolumes != nullptr) *openedVolumes = opened;
  return DriveRequestError::None;
}

}  // namespace palvoro
