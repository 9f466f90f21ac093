#pragma once
// Where the program keeps its settings file and its daily logs. A portable copy, whose folder
// the user may write, keeps them beside the executable; an installed copy keeps them in the
// user's own folders (XDG), since its program folder belongs to the system. One rule for every
// program of the package, so the window and a headless program agree.
//
// Threads: any; plain functions without shared state.

#include <string>

namespace updater {

// The folder name under the user's XDG folders.
inline constexpr char kUserFolderName[] = "veltorium-updater";
// A file the package puts beside the installed executable. It marks the copy as installed even
// for a user who could write the program folder (root), so that such a run never writes into
// the system's folders.
inline constexpr char kInstalledMarkerName[] = "installed-copy";

// The user's XDG base folders, without trailing '/'; empty when no home folder is known.
struct TUserFolders {
  std::string config_home;  // $XDG_CONFIG_HOME, else ~/.config
  std::string state_home;   // $XDG_STATE_HOME, else ~/.local/state

  // From this process's environment; relative XDG values are ignored, as the XDG rules say,
  // and a missing $HOME falls back to the account's home folder.
  static TUserFolders FromEnvironment();
};

// Folders with a trailing '/'; empty when there is no place for them (an installed copy
// without a home folder).
struct TDataFolders {
  std::string settings;  // holds the settings file
  std::string logs;      // holds the daily log files
};

// The marker file, or a program folder this process may not write (access(2), W_OK).
bool IsInstalledCopy(const std::string& program_folder);

// program_folder ends with '/'.
TDataFolders ChooseDataFolders(const std::string& program_folder, bool installed,
                               const TUserFolders& user);

// The rule as it applies to this process.
TDataFolders DataFoldersFor(const std::string& program_folder);

// Makes a folder and its missing parents. False with a plain reason for the event log (that a
// name on the way is taken by a file, the system's error text, or that there is no home
// folder) when it is not a folder afterwards.
bool MakeFolder(const std::string& folder, std::string& reason);

}  // namespace updater
