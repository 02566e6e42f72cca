// Where the program finds what it ships and where it keeps what the user
// adds. An installed program's own folder is read-only, so shipped data
// (Tips.ini, Skins/, help/) comes from the installed data folder and the
// user's imported skins go to the per-user data folder.
#pragma once

#include <string>

namespace kiv::app {

// The folder of the shipped data files, ending in '/': ONDALO_DATA_DIR when
// set; else <program folder>/../share/ondalo/ when it exists (an installed
// program, and a program run from the build tree, which copies the data
// there); else the application directory.
std::string DataDirectory();

// The per-user data folder, ending in '/': $XDG_DATA_HOME/ondalo/, or
// ~/.local/share/ondalo/ when that is unset or relative. Not created here.
std::string UserDataDirectory();

// The folder of shipped skins and the folder of the user's own skins.
std::string SharedSkinFolder();
std::string UserSkinFolder();

// DataDirectory() + "Tips.ini".
std::string TipsFilePath();

// The default destination folder of both wizards, ending in '/': the
// application directory when it can be written (always so for
// ONDALO_CONFIG_DIR); else the user's music folder (xdg-user-dir MUSIC);
// else the home folder.
std::string DefaultDestinationFolder();

}  // namespace kiv::app
