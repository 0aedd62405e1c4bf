#include "platform/linux/sg_io.h"

#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>

#include "platform/win_types.h"

namespace palvoro::real {
namespace {

constexpr uint8_t kCheckCondition = 0x02;
constexpr uint16_t kDidNoConnect = 0x01;
constexpr uint16_t kDriverSense = 0x08;

}  // namespace

uint32_t errorFromDeviceErrno(int err) {
  switch (err) {
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM: return ERROR_DEVICE_NOT_CONNECTED;
    case EPERM:
    case EACCES:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case EIO: return ERROR_CRC;
    default: return ERROR_IO_DEVICE;
  }
}

uint32_t commandTimeoutMs(uint32_t seconds, bool purge) {
  const uint32_t cap = purge ? kPurgeTimeoutCapMs : kSgTimeoutCapMs;
  return std::clamp<uint32_t>(std::min<uint32_t>(seconds, cap / 1000) * 1000, 1000, cap);
}

SgOutcome sgCommand(SysCalls& sys, int fd, const uint8_t* cdb, uint8_t cdbLength, SgDirection direction,
                    void* data, uint32_t length, uint32_t timeoutMs) {
  SgOutcome outcome;
  uint8_t sense[kSgSenseBytes] = {};
  uint8_t command[16] = {};
  std::copy_n(cdb, std::min<size_t>(cdbLength, sizeof command), command);
  sg_io_hdr_t header{};
  header.interface_id = 'S';
  header.cmdp = command;
  header.cmd_len = cdbLength;
  header.sbp = sense;
  header.mx_sb_len = sizeof sense;
  header.dxfer_direction = length == 0 || direction == SgDirection::None ? SG_DXFER_NONE
                           : direction == SgDirection::ToDevice         ? SG_DXFER_TO_DEV
                                                                        : SG_DXFER_FROM_DEV;
  header.dxferp = length == 0 ? nullptr : data;
  header.dxfer_len = header.dxfer_direction == SG_DXFER_NONE ? 0 : length;
  // The caller's cap (commandTimeoutMs) decides; this one only keeps a stray value from
  // waiting beyond the longest any command is given.
  header.timeout = std::clamp<uint32_t>(timeoutMs, 1000, kPurgeTimeoutCapMs);
  const int r = sys.ioctl(fd, SG_IO, &header);
  if (r < 0) {
    outcome.error = r;
    return outcome;
  }
  outcome.status = header.status;
  outcome.hostStatus = header.host_status;
  outcome.driverStatus = header.driver_status;
  const int resid = std::clamp<int>(header.resid, 0, static_cast<int>(header.dxfer_len));
  outcome.transferred = header.dxfer_len - static_cast<uint32_t>(resid);
  const size_t written = std::min<size_t>(header.sb_len_wr, sizeof sense);
  outcome.sense.assign(sense, sense + written);
  return outcome;
}

AtaOutcome ataCommand(SysCalls& sys, int fd, const AtaRegisters& current, const AtaRegisters* previous,
                      AtaTransfer transfer, void* data, uint32_t length, uint32_t timeoutMs) {
  AtaOutcome outcome;
  const bool noData = transfer == AtaTransfer::None || length == 0;
  const auto cdb = ataPassThrough16(current, previous, noData ? AtaTransfer::None : transfer, noData);
  const SgDirection direction = noData ? SgDirection::None
                                : transfer == AtaTransfer::PioIn || transfer == AtaTransfer::DmaIn
                                    ? SgDirection::FromDevice
                                    : SgDirection::ToDevice;
  SgOutcome sg;
  // A unit attention (a reset, a changed medium) is reported once; the command itself
  // never ran, so it goes again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    sg = sgCommand(sys, fd, cdb.data(), static_cast<uint8_t>(cdb.size()), direction, data, noData ? 0 : length,
                   timeoutMs);
    if (sg.error != 0) break;
    const Sense s = decodeSense(sg.sense.data(), sg.sense.size());
    if (!(sg.status == kCheckCondition && s.key == kUnitAttention && !s.hasRegisters)) break;
  }
  if (sg.error != 0) {
    outcome.error = errorFromDeviceErrno(-sg.error);
    return outcome;
  }
  if (sg.hostStatus != 0) {
    outcome.error = sg.hostStatus == kDidNoConnect ? ERROR_DEVICE_NOT_CONNECTED : ERROR_IO_DEVICE;
    return outcome;
  }
  outcome.reached = true;
  outcome.current = current;
  if (previous != nullptr) outcome.previous = *previous;
  const Sense s = decodeSense(sg.sense.data(), sg.sense.size());
  if (s.hasRegisters) {
    // The status register decides, whatever the sense key says: a command that asked for
    // its registers ends with CHECK CONDITION on success too.
    outcome.current = s.registers;
    if (previous != nullptr && s.extended) {
      outcome.previous.count = s.upper.count;
      outcome.previous.lbaLow = s.upper.lbaLow;
      outcome.previous.lbaMid = s.upper.lbaMid;
      outcome.previous.lbaHigh = s.upper.lbaHigh;
    }
    outcome.registersKnown = true;
    return outcome;
  }
  const bool checkCondition = sg.status == kCheckCondition || (sg.driverStatus & kDriverSense) != 0;
  if (!checkCondition && sg.status == 0) {
    // A non-data command asked for its registers (CK_COND) because they are its answer;
    // none came back, so there is none. Echoing the request's own would hand back the
    // 4Fh/C2h key as a SMART RETURN STATUS "healthy" the drive never gave. A data
    // command's registers stay as sent, as a drive leaves them.
    if (noData) {
      outcome.current = AtaRegisters{};
      outcome.previous = AtaRegisters{};
    }
    outcome.current.features = 0;
    outcome.current.command = kAtaStatusReady;
    return outcome;
  }
  if (s.present && (s.key == kIllegalRequest || s.key == kAbortedCommand || s.key == kMediumError)) {
    // Refused or failed without registers: the drive (or the translation for it) aborted
    // the command.
    outcome.current.features = kAtaErrorAbort;
    outcome.current.command = kAtaStatusReady | kAtaStatusError;
    return outcome;
  }
  outcome.reached = false;
  outcome.error = ERROR_IO_DEVICE;
  return outcome;
}

}  // namespace palvoro::real
