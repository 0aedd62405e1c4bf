#pragma once
// The application object: the start-up sequence, from the program's folder and the files
// written there, through the checks and the detection dialog, to the main window and the
// freeing of the compliance table at exit.

#include <functional>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/program_files.h"

namespace palvoro {

// The files start-up writes next to the program: "vhtlogo.gif", "help.htm", "smart.htm".
std::vector<ProgramFile> startupFiles();

class CPalvoroApp {
 public:
  // Runs the main window modally over the context (the program constructs CPalvoroDlg).
  using MainWindowRunner = std::function<void(AppContext&)>;

  CPalvoroApp(AppContext& context, MainWindowRunner runMainWindow);

  // A box shown right after the start-up warning to a user without administrator rights:
  // the program on this computer's drives says what that costs and how to get the rights.
  void setNoRightsNote(std::string note) { m_noRightsNote = std::move(note); }

  // Runs the whole program: programDir, extraction, start-up checks, the detection dialog,
  // the main window, then frees the compliance table. Returns false, as the program ends
  // once the main window has closed.
  bool InitInstance();

 private:
  AppContext& m_context;
  MainWindowRunner m_runMainWindow;
  std::string m_noRightsNote;
};

}  // namespace palvoro
