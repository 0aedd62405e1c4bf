#pragma once
// One reading of a drive for its history: what its SMART attributes or NVMe health log
// say now, the drive's own verdict, and what its logs hold of its newest self-test and the
// errors it counted. A run takes one after a test; a scheduled check takes one of every
// drive.

#include <optional>

#include "discovery/drive_record.h"
#include "service/session.h"
#include "smart/drive_logs.h"
#include "store/history_store.h"

namespace palvoro {

// Reads the drive. `logs` are its logs when already read (a run reads them for its hints);
// null reads them here. None when the drive has no SMART path or answered nothing. The
// snapshot's time is now; its drive and run are the caller's to set.
[[nodiscard]] std::optional<StoredSnapshot> readDriveSnapshot(Session& session, const DriveRecord& drive,
                                                              const DriveLogs* logs = nullptr);

// The newest self-test and the error count the logs hold, into `snapshot`.
void summarizeDriveLogs(const DriveLogs& logs, StoredSnapshot& snapshot);

}  // namespace palvoro
