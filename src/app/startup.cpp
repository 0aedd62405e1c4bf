#include "app/startup.h"

#include <cstdio>
#include <cstdlib>

#include "discovery/detection.h"

namespace palvoro {

void runStartupChecks(AppContext& context) {
  StartupState& startup = context.startup();
  startup.osIsVistaOrLater = (context.platform().version() & 0xFF) >= 6 ? 1 : 0;
  startup.miniportMode = checkAdministrator(context.platform()) == 0 ? 1 : 0;
  if (startup.miniportMode == 1) {
    context.prompter().ask(kNoAdministratorWarning, context.platform().productTitle(), PromptIcon::Warning, PromptButtons::Ok,
                           PromptAnswer::Ok, PromptPurpose::information());
  }
  // A table that cannot be loaded leaves none: no model matches it.
  (void)loadComplianceTable(context.complianceTable());
}

namespace {

bool isSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool displayFound(const char* program, const char* advice) {
  if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM")) return true;
  std::fprintf(stderr, "%s: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n%s", program, advice);
  return false;
}

}  // namespace palvoro
