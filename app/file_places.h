// Where the viewer keeps its settings and the data files it writes. A portable copy keeps its
// settings file beside the executable; an installed one cannot write there, so it follows the
// desktop's base-directory rules.
#pragma once

#include <string>

namespace vantora {

// What the choice depends on, read from the environment by FromEnvironment (tests fill it in).
struct PlaceEnvironment {
    std::string Home;           // $HOME
    std::string ConfigHome;     // $XDG_CONFIG_HOME, empty when unset
    std::string DataHome;       // $XDG_DATA_HOME, empty when unset
    std::string WorkingFolder;  // the current directory
    static PlaceEnvironment FromEnvironment();
};

// The settings file: the one beside the executable when it exists (SettingsPathFor), else
// vantora/vantora.INI under $XDG_CONFIG_HOME (default ~/.config). Folders are created only when
// the file is first written (PrepareFolderOf).
std::string ChooseSettingsPath(const std::string& executablePath, const PlaceEnvironment& env);

// The folder of tracelog.tmp, tracedata.log, ephs.dat and almc.dat: the working folder when the
// user may write there, else vantora under $XDG_DATA_HOME (default ~/.local/share), created here.
// Empty with a reason in error when neither can be used.
std::string ChooseDataFolder(const PlaceEnvironment& env, std::string& error);

// This program's own path (fallback when the system cannot tell): the settings file is found from it.
std::string ExecutablePath(const char* fallback);

// name inside folder, as a full path.
std::string PlaceIn(const std::string& folder, const std::string& name);

// Creates the folders above path that are missing (mode 0700 for new ones, as the desktop's base
// directories ask); false with the reason in error.
bool PrepareFolderOf(const std::string& path, std::string& error);

}  // namespace vantora
