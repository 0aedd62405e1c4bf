#include "app/startup.h"

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

}  // namespace palvoro
