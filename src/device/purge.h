#pragma once
// A drive's own erase commands: the ATA Security and Sanitize feature sets, NVMe Format
// NVM and Sanitize, SCSI SANITIZE. Each protocol answers through one PurgeDevice: which
// methods the drive offers (and why the others are not offered), and the whole command
// sequence of one method, polled to its end. Whoever calls has already made every check
// and asked every question: nothing here asks, and nothing here is reached but by an
// erase the user confirmed on this drive.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/scsi_transport.h"
#include "platform/platform.h"

namespace palvoro {

// The ways a drive can be erased. Overwrite is the program's own zero pass (quick or full);
// every other method is the drive's own command.
enum class PurgeMethod {
  Overwrite,
  SecurityErase,          // ATA SECURITY ERASE UNIT, normal
  SecurityEraseEnhanced,  // ATA SECURITY ERASE UNIT, enhanced
  SanitizeCrypto,         // ATA CRYPTO SCRAMBLE, NVMe Sanitize crypto erase, SCSI SANITIZE CRYPTOGRAPHIC ERASE
  SanitizeBlock,          // ATA BLOCK ERASE, NVMe Sanitize block erase, SCSI SANITIZE BLOCK ERASE
  SanitizeOverwrite,      // ATA OVERWRITE, NVMe Sanitize overwrite, SCSI SANITIZE OVERWRITE
  Format,                 // NVMe Format NVM, Secure Erase Settings 1 (user data erase)
  FormatCrypto,           // NVMe Format NVM, Secure Erase Settings 2 (cryptographic erase)
};

// Whether the drive offers a method, and if not, why, in words a user can act on.
struct MethodSupport {
  PurgeMethod method = PurgeMethod::Overwrite;
  bool offered = false;
  std::string whyNot;              // "" when offered
  uint32_t estimatedMinutes = 0;   // the drive's own estimate, 0 when it gives none
};

// How a method's sequence ended.
enum class PurgeStatus {
  Completed,    // the drive reported the erase done without error
  Unsupported,  // refused before anything that changes the drive was sent (the drive, or
                // the bridge, lacks it); `detail` says which
  Frozen,       // ATA security is frozen: nothing was sent
  Locked,       // the drive is locked by a password this program did not set: nothing was sent
  Failed,       // sent, and the drive reported a failure (or stopped answering)
};

// What a sequence reports while it waits for the drive.
struct PurgeProgress {
  std::optional<double> fraction;  // 0..1 when the drive tells, else nothing
  std::string stage;               // "Waiting for SANITIZE to finish..."
};

struct PurgeHooks {
  // Called at every poll; the sequence polls through Platform::sleep, so a simulated
  // drive finishes on the machine's clock.
  std::function<void(const PurgeProgress&)> progress;
};

struct PurgeReport {
  PurgeStatus status = PurgeStatus::Failed;
  std::string detail;            // what the drive or bridge said; "" when completed
  // ATA security: the temporary password was set and could not be removed again (the drive
  // may be left locked); false when none was set or it was removed.
  bool passwordLeft = false;
  // ATA security: a password this program had set was found after a failure and removed.
  bool passwordRemoved = false;
  // The drive's erased value when it says (NVMe DLFEAT bits 2:0 give 0x00 or 0xFF).
  std::optional<uint8_t> erasedValue;
};

// A Host Protected Area and a Device Configuration Overlay, as the drive reports them.
// All counts are sectors.
struct HiddenAreas {
  bool hpaKnown = false;          // READ NATIVE MAX ADDRESS answered
  uint64_t userSectors = 0;       // what IDENTIFY reports (the host's capacity)
  uint64_t nativeSectors = 0;     // READ NATIVE MAX ADDRESS + 1
  bool dcoKnown = false;          // DEVICE CONFIGURATION IDENTIFY answered
  uint64_t dcoSectors = 0;        // its maximum LBA + 1: what the drive can be made to show
  [[nodiscard]] uint64_t hpaSectors() const { return hpaKnown && nativeSectors > userSectors ? nativeSectors - userSectors : 0; }
  [[nodiscard]] uint64_t dcoHiddenSectors() const {
    return dcoKnown && dcoSectors > nativeSectors && nativeSectors != 0 ? dcoSectors - nativeSectors : 0;
  }
};

class PurgeDevice {
 public:
  virtual ~PurgeDevice() = default;
  // Every method but Overwrite, each with whether it is offered: reads what it needs
  // (IDENTIFY, Identify Controller, supported operation codes) at the time of asking,
  // since a drive's security state changes.
  [[nodiscard]] virtual std::vector<MethodSupport> methods() = 0;
  // The whole sequence of `method`. A method the drive does not offer ends Unsupported
  // with nothing sent that changes the drive.
  [[nodiscard]] virtual PurgeReport run(PurgeMethod method, const PurgeHooks& hooks) = 0;
  // The drive's world wide name as its identity reports it ("0x5000cca01a2b3c4d" from an
  // ATA drive's IDENTIFY, "eui.0025388b71b2c3d4" or "nguid...." from an NVMe namespace);
  // "" when it reports none.
  [[nodiscard]] virtual std::string worldWideName() { return ""; }
  // The hidden areas, for drives that have them (ATA); nothing for the others.
  [[nodiscard]] virtual std::optional<HiddenAreas> hiddenAreas() { return std::nullopt; }
  // Makes the native capacity visible until the drive powers off (volatile SET MAX
  // ADDRESS to the native maximum), and back: false when the drive refused or has no HPA.
  [[nodiscard]] virtual bool liftHpa() { return false; }
  [[nodiscard]] virtual bool restoreHpa(uint64_t userSectors) { (void)userSectors; return false; }
};

// How an ATA drive's commands reach it.
struct AtaRoute {
  enum class Kind {
    PassThrough,  // ATA pass-through on the disk handle (a SATA drive on its controller)
    Carrier,      // a bridge's carrier: SAT (12)/(16), or the vendor block (28-bit only)
  } kind = Kind::PassThrough;
  uint8_t unit = 0;                   // PassThrough: the unit (0 or the drive's primary unit)
  AtaCarrier carrier = kCarrierNone;  // Carrier: which one
  uint8_t device = 0xA0;              // Carrier: the device byte (RAID member select)
};

// The protocol's purge device over `handle`, which stays the caller's and must be open for
// reading and writing. `sectorSize` is the drive's logical block in bytes.
std::unique_ptr<PurgeDevice> ataPurgeDevice(Platform& platform, Handle handle, const AtaRoute& route);
std::unique_ptr<PurgeDevice> nvmePurgeDevice(Platform& platform, Handle handle);
std::unique_ptr<PurgeDevice> scsiPurgeDevice(Platform& platform, Handle handle);
// A drive reached by nothing that carries its erase commands (a bridge's vendor block
// that the drive's commands do not pass, an enclosure, a virtual disk): every method
// refused with `why`.
std::unique_ptr<PurgeDevice> refusingPurgeDevice(std::string why);

// A sequence's end with nothing more to say than its status and why.
[[nodiscard]] PurgeReport purgeEnded(PurgeStatus status, std::string detail);

// The category each method meets in the media sanitization guideline: "Clear" or "Purge".
const char* purgeCategory(PurgeMethod method);
// The protocol-neutral name used on the command line and in documents:
// "overwrite", "security-erase", "security-erase-enhanced", "sanitize-crypto",
// "sanitize-block", "sanitize-overwrite", "format", "format-crypto".
const char* purgeMethodName(PurgeMethod method);
[[nodiscard]] std::optional<PurgeMethod> purgeMethodNamed(const std::string& name);
// One sentence that tells what the method does, for the windows and --help.
const char* purgeMethodSentence(PurgeMethod method);

}  // namespace palvoro
