#pragma once
// The last line before a disk: every write, layout deletion, TRIM, SANITIZE or other
// command that can change a disk passes through checkWrite, below every check the core
// makes, and nothing bypasses it.

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

// Whether an ATA command only reads: identity, SMART reads and self-tests, power mode,
// verifies, reads. Everything else is treated as a write.
bool ataCommandOnlyReads(const AtaRegisters& registers);
// Whether a SMART WRITE LOG carries an SCT command that only reads: the request for the
// temperature history table (data table action 5, read function 1, table 2), which the
// drive answers in log E1h. Every other SCT command (feature control, error recovery
// times, the makers' own actions) can change the drive and stays a write.
bool sctCommandOnlyReads(const AtaRegisters& registers, const uint8_t* data, size_t length);
// The same judgement of an ATA PASS-THROUGH block and its data-out.
bool scsiSctCommandOnlyReads(const uint8_t* cdb, size_t cdbLength, const uint8_t* data, size_t length);
// Whether a SCSI command block only reads. The ATA PASS-THROUGH blocks are judged by the
// ATA command inside them.
bool scsiCommandOnlyReads(const uint8_t* cdb, size_t length);
// Whether a SCSI command block is one of those known to change a disk (writes, format,
// sanitize, unmap, mode select, an ATA PASS-THROUGH of a command that is not a read).
// A block that neither only reads nor is known is never sent: a vendor's opcode means
// something else to every other device.
bool scsiCommandWrites(const uint8_t* cdb, size_t length);
// Whether a command that writes leaves data behind no more: TRIM, SANITIZE, the security
// erase, UNMAP, FORMAT, WRITE SAME. After one of them nothing on the disk is mounted again.
bool ataCommandErases(const AtaRegisters& registers);
bool scsiCommandErases(const uint8_t* cdb, size_t length);

// Whether an NVMe admin command carried by a protocol command may be sent: Device
// Self-test (14h) with a short (1h), extended (2h) or abort (Fh) code, which leaves user
// data alone, and nothing else. Identify and Get Log Page arrive as property queries,
// which only read, and never come here. Any other command is answered as the NVMe driver
// answers one it does not pass (NOT_SUPPORTED) and never sent: an admin command that is
// not known to leave the data alone may format, sanitize or replace the firmware.
bool nvmeAdminCommandAllowed(uint8_t opcode, uint32_t cdw10);

}  // namespace palvoro::real
