#include "discovery/drive_record.h"

#include <cstring>
#include <type_traits>

namespace palvoro {

static_assert(std::is_trivially_copyable_v<DriveTable>);

void clearDriveTable(DriveTable& table) { std::memset(&table, 0, sizeof table); }

}  // namespace palvoro
