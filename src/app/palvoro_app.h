#pragma once
// The application object: the start-up sequence, from the program's folder and the files
// written there, through the checks and the detection dialog, to the main window and the
// freeing of the compliance table at exit.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/program_files.h"
#include "store/history_store.h"
#include "ui/model/option_dialog_model.h"

namespace palvoro {

// The files the program carries: "vhtlogo.gif", "help.htm", "smart.htm" (the build
// writes them into the data folder; start-up writes them where that folder is missing).
std::vector<ProgramFile> startupFiles();

// Where the windows keep the drives' history: `stateDir` when the user named one
// (--state-dir), else the state folder `resultsDir`, and for a simulated machine its
// "simulated/" below that, so that no simulated drive ever joins this computer's. "" when
// there is no folder at all.
std::string historyFolder(const std::string& stateDir, const std::string& resultsDir, bool simulated);

// How the windows keep an erase's certificate: its JSON and PDF beside the result page,
// unsigned (a key is given on the command line only).
CertificateWriter certificateFileWriter();
// ... and a bench's: every drive's, then the summary naming them.
BenchCertificateWriter benchCertificateFileWriter();

class CPalvoroApp {
 public:
  // Runs the main window modally over the context (the program constructs CPalvoroDlg).
  using MainWindowRunner = std::function<void(AppContext&)>;

  CPalvoroApp(AppContext& context, MainWindowRunner runMainWindow);
  // The context's history is the app's own: it is taken back when the app ends.
  ~CPalvoroApp();
  CPalvoroApp(const CPalvoroApp&) = delete;
  CPalvoroApp& operator=(const CPalvoroApp&) = delete;

  // A box shown right after the start-up warning to a user without administrator rights:
  // the program on this computer's drives says what that costs and how to get the rights.
  void setNoRightsNote(std::string note) { m_noRightsNote = std::move(note); }

  // Where the program can start itself again with the rights, the note asks whether to;
  // on Yes `restart` runs, and returns true when the program with rights ran (this one then
  // ends without detecting anything), false when it goes on without them.
  void setRestartWithRights(std::function<bool()> restart) { m_restart = std::move(restart); }

  // The folders to use instead of those findProgramFolders() gives this process (a test's
  // own, whoever runs it).
  void setProgramFolders(ProgramFolders folders) { m_folders = std::move(folders); }

  // Keeps the drives' history where historyFolder() puts it: the folder the user named
  // ("" for the default) and whether the machine is simulated. Without this call no
  // history is opened, so that no program on a machine of its own reaches the real one's.
  void setHistoryFolder(std::string stateDir, bool simulated) {
    m_stateDir = std::move(stateDir);
    m_simulated = simulated;
    m_keepHistory = true;
  }

  // Runs the whole program: the program's folders and files, the drives' history (a
  // history that does not open only leaves the runs unkept), start-up checks, the detection
  // dialog, the main window, then frees the compliance table. Returns false, as the program ends
  // once the main window has closed.
  bool InitInstance();

 private:
  AppContext& m_context;
  MainWindowRunner m_runMainWindow;
  std::string m_noRightsNote;
  std::function<bool()> m_restart;
  std::optional<ProgramFolders> m_folders;
  std::string m_stateDir;
  bool m_simulated = false;
  bool m_keepHistory = false;
  // Open from start-up to the end of the program, for every window's runs.
  std::unique_ptr<HistoryStore> m_history;
};

}  // namespace palvoro
