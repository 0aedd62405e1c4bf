#include "app/app_context.h"

namespace palvoro {

AppContext::AppContext(Platform& platform, Prompter& prompter)
    : m_platform(platform), m_prompter(prompter) {
  clearDriveTable(m_driveTable);
}

ProbeEnvironment AppContext::probeEnvironment() {
  return ProbeEnvironment{m_platform, m_prompter, m_startup.miniportMode != 0,
                          m_complianceTable.loaded() ? &m_complianceTable : nullptr, m_raidMemberSelect};
}

DriveRecord& AppContext::selectedRecord() {
  const int index = m_driveTable.selectedDrive;
  if (index < 0 || index >= kMaxDrives) return m_driveTable.records[0];
  return m_driveTable.records[index];
}

}  // namespace palvoro
