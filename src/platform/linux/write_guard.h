#pragma once
// The last line before a disk: every write, layout deletion, TRIM, SANITIZE, security
// erase, format, hidden-area change or other command that can change a disk passes
// through checkWrite, below every check the core makes, and nothing bypasses it.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/scsi_ata.h"

namespace palvoro::real {

enum class Privilege {
  Administrator,  // root, or CAP_SYS_RAWIO together with CAP_SYS_ADMIN
  None,           // anyone else, the disk group included: the kernel refuses it pass-through
};

// Something that reads or writes the disk, or one of its partitions, without the kernel
// listing it as a holder or minding the exclusive open: a loop device over it, a program
// with its node open (a virtual machine, an NBD server, a plain `cat`), or a target of the
// kernel's own exporting it to another machine (SCSI target, NVMe target, USB gadget).
struct DiskUser {
  enum class Kind { Loop, Program, Export } kind = Kind::Loop;
  // "/dev/loop0", the program's command name, or the export ("the NVMe target's
  // namespace nqn.x/1")
  std::string name;
  int pid = 0;        // the program's
  std::string uses;   // what it reads: "" for the disk's own node, "/dev/sdb1", a file's path
  bool file = false;  // `uses` is a file on one of the disk's file systems
  std::string mountPoint;  // where the loop device's own file system is mounted, if it is
};

// What the backend knows about a disk when a write is asked for.
// Each rule carries the name a refusal shows: the mount point, the swap area, the
// program's path, the holder.
struct WriteGuardFacts {
  bool privileged = false;
  bool systemMount = false;      // "/", /usr, /boot, /var or /home lives on the disk
  bool activeSwap = false;       // a swap area in use lives on the disk
  bool runningProgram = false;   // the running program's own file lives on the disk
  bool holders = false;          // LVM, RAID or an encrypted volume is stacked on it
  bool exclusiveOpenFailed = false;  // O_EXCL was refused: someone else holds it
  std::vector<DiskUser> users;       // what uses the disk unseen by holders and O_EXCL
  // What the guard could not look at (the mount table, the processes): when it is not
  // empty nobody can say the disk is unused, and the write is refused.
  std::string unknown;
  std::vector<std::pair<uint64_t, uint64_t>> mountedRanges;  // [first, end) bytes of mounted partitions
  std::vector<std::string> mountedPoints;                    // parallel to mountedRanges
  std::string systemMountPoint;
  std::string swapArea;
  std::string programPath;
  std::string holder;
};

enum class WriteRefusal {
  None,
  NotPrivileged,
  SystemDisk,
  ActiveSwap,
  RunningProgram,
  Holders,
  InUse,  // a loop device or a program uses the disk
  CannotTell,  // what uses the disk could not be looked at
  Busy,
  MountedRange,
  UnmountFailed,  // the user released a file system, but it could not be unmounted
};

// `length` 0 means the whole disk (a command that reaches every sector, such as a layout
// deletion or SANITIZE). Returns the first rule the request breaks; `detail` gets the
// name that goes with it.
WriteRefusal checkWrite(const WriteGuardFacts& facts, uint64_t offset, uint64_t length,
                        std::string* detail = nullptr);
// Why, in words a user can act on: "Writing to /dev/sdb was refused: the disk holds the
// running system (mounted at /)."
std::string refusalMessage(const std::string& device, WriteRefusal refusal, const std::string& detail);
// A user in the words the refusal shows: "the loop device /dev/loop0 reads it (mounted at
// /mnt/x)", "the program qemu-system-x86 (pid 812) has /dev/sdb1 open".
std::string describeUser(const DiskUser& user);

// What the guard does with a command on its way to a disk. The lists are closed: a
// command is judged by what it is (opcode, sub-command, key, and for an ATA PASS-THROUGH
// block its protocol), never by what it is not.
enum class CommandKind {
  Reads,    // leaves the data alone: sent as it is
  Writes,   // one of the writes this program makes: sent only once checkWrite lets it
  // One of the drive's own erase commands, or a step one takes (the temporary password,
  // the volatile lifting of a hidden area). The rule for sending one:
  //  - only on a handle opened for writing, through the write session's descriptor (the
  //    one O_RDWR | O_EXCL descriptor held with flock that the erase's own writes go
  //    through), which the first such command opens exactly as the erase's first write
  //    does: every released file system unmounted, none left;
  //  - only after checkWrite passes for the whole disk (offset 0, length 0), judged again
  //    at every command even inside a session: never the system disk, one with swap,
  //    this program, holders, loop devices, programs or exporters using it, a mounted or
  //    busy disk, nor without administrator rights;
  //  - with the caller's timeout up to kPurgeTimeoutCapMs (sg_io.h), not the minute other
  //    commands get;
  //  - afterwards nothing of the disk is mounted again, and the kernel reads the disk
  //    anew (the partition table, and after SET MAX the capacity) at
  //    IOCTL_DISK_UPDATE_PROPERTIES or when the session ends.
  Purges,
  Refused,  // anything else: never sent, answered as a device answers a command it lacks
};

// An ATA command (the high-order bytes in `previous` of a 48-bit one, zero for a 28-bit
// one) and the data it carries to the drive (`dataOut` nullptr or `length` 0 for none).
// Reads: NOP, identity, power mode, the native max address, reads and verifies, the logs,
// the SMART reads, SMART ENABLE OPERATIONS (detection turns SMART on to read it) and the
// standard self-tests, SANITIZE STATUS, DEVICE CONFIGURATION IDENTIFY, and one SCT
// request, the temperature history table (action 5, read function 1, table 2). Writes:
// the sector writes, TRIM and the maker's SCT switch of a dual-unit drive (action C013h,
// function 0 or 1). Purges: SECURITY SET PASSWORD of the user password, ERASE PREPARE,
// ERASE UNIT, UNLOCK and DISABLE PASSWORD, each with its 512 bytes; SANITIZE CRYPTO
// SCRAMBLE, BLOCK ERASE and OVERWRITE with their keys; SET MAX ADDRESS (EXT) with the
// volatile bit clear. A read never carries data to the drive. Everything else is
// refused: a master password, SECURITY FREEZE LOCK, a non-volatile SET MAX and the SET
// MAX security extensions, the other DCO commands, DOWNLOAD MICROCODE, SET FEATURES,
// SMART DISABLE and attribute autosave, other SCT commands and log writes, vendor
// opcodes, and EXECUTE DEVICE DIAGNOSTIC, which resets the drive under the kernel's feet.
CommandKind judgeAtaCommand(const AtaRegisters48& registers, const uint8_t* dataOut, size_t length);
// A SCSI command block and its data-out. Reads: identity, capacity, reads and verifies,
// mode and log sense, TEST UNIT READY, REQUEST SENSE, REPORT SUPPORTED OPERATION CODES,
// the default and background self-tests (never with leave to write the medium). Writes:
// the sector writes, WRITE SAME and UNMAP. Purges: SANITIZE overwrite, block erase,
// cryptographic erase and exit failure mode. FORMAT UNIT, MODE SELECT, WRITE BUFFER,
// SECURITY PROTOCOL OUT and the rest are refused. An ATA PASS-THROUGH (12) or (16) block
// is judged by the ATA command it carries, and by its protocol: the resets, EXECUTE
// DEVICE DIAGNOSTIC and the reserved protocols are refused, and "return response
// information" (which sends nothing) passes only carrying a read.
CommandKind judgeScsiCommand(const uint8_t* cdb, size_t cdbLength, const uint8_t* dataOut, size_t length);
// Whether a command that writes leaves data behind no more: TRIM, UNMAP, WRITE SAME and
// every purge. After one of them nothing on the disk is mounted again.
[[nodiscard]] bool ataCommandErases(const AtaRegisters& registers);
[[nodiscard]] bool scsiCommandErases(const uint8_t* cdb, size_t length);
// Whether a command moves the end of what the host sees (SET MAX ADDRESS): the kernel
// must read the capacity again before block I/O reaches the lifted sectors.
[[nodiscard]] bool ataCommandChangesCapacity(const AtaRegisters& registers);
[[nodiscard]] bool scsiCommandChangesCapacity(const uint8_t* cdb, size_t length);

// An NVMe admin command carried by a protocol command. Reads: Device Self-test (14h)
// with a short (1h), extended (2h) or abort (Fh) code, which leaves user data alone.
// Purges: Format NVM (80h) with Secure Erase Settings 1 (user data erase) or 2
// (cryptographic erase) on one namespace, never all (NSID FFFFFFFFh); Sanitize (84h) with
// action 1 to 4 (exit failure mode, block erase, overwrite, crypto erase). Settings 0, a
// format that erases nothing on purpose, is refused: it loses the data all the same (and
// with another LBA format the disk's shape), while no erase of this program sends it and
// nothing proves the data gone, so it is neither a read nor one of the program's erases.
// Identify and Get Log Page (the Sanitize Status log 81h among the logs) arrive as
// property queries, which only read, and never come here. Everything else is answered as
// the NVMe driver answers one it does not pass (NOT_SUPPORTED) and never sent: an admin
// command not known to be one of these may format, sanitize or replace the firmware.
inline constexpr uint8_t kNvmeAdminFormatNvm = 0x80;
inline constexpr uint8_t kNvmeAdminSanitize = 0x84;
[[nodiscard]] CommandKind judgeNvmeAdminCommand(uint8_t opcode, uint32_t nsid, uint32_t cdw10);

}  // namespace palvoro::real
