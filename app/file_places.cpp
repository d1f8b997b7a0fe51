#include "app/file_places.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/settings.h"

namespace vantora {
namespace {

std::string EnvOr(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The base-directory rules ignore relative values.
std::string BaseFolder(const std::string& value, const std::string& home, const char* fallback) {
    if (!value.empty() && value[0] == '/') return value;
    return home.empty() ? std::string() : PlaceIn(home, fallback);
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolders(const std::string& folder, std::string& error) {
    if (folder.empty() || IsDirectory(folder)) return true;
    const size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash), error)) return false;
    if (::mkdir(folder.c_str(), 0700) == 0 || (errno == EEXIST && IsDirectory(folder))) return true;
    error = "Cannot create the folder " + folder + ": " + std::strerror(errno);
    return false;
}

}  // namespace

PlaceEnvironment PlaceEnvironment::FromEnvironment() {
    PlaceEnvironment env;
    env.Home = EnvOr("HOME");
    env.ConfigHome = EnvOr("XDG_CONFIG_HOME");
    env.DataHome = EnvOr("XDG_DATA_HOME");
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) env.WorkingFolder = cwd;
    return env;
}

std::string ExecutablePath(const char* fallback) {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return fallback;
    return std::string(buffer, static_cast<size_t>(n));
}

std::string PlaceIn(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string ChooseSettingsPath(const std::string& executablePath, const PlaceEnvironment& env) {
    const std::string portable = SettingsPathFor(executablePath);
    if (::access(portable.c_str(), F_OK) == 0) return portable;
    const std::string base = BaseFolder(env.ConfigHome, env.Home, ".config");
    // Without a home there is nowhere else to go: the portable place, as before.
    if (base.empty()) return portable;
    return PlaceIn(PlaceIn(base, "vantora"), "vantora.INI");
}

std::string ChooseDataFolder(const PlaceEnvironment& env, std::string& error) {
    if (!env.WorkingFolder.empty() && ::access(env.WorkingFolder.c_str(), W_OK | X_OK) == 0)
        return env.WorkingFolder;
    const std::string base = BaseFolder(env.DataHome, env.Home, ".local/share");
    if (base.empty()) {
        error = "The working folder " + env.WorkingFolder + " cannot be written and there is no home folder.";
        return {};
    }
    const std::string folder = PlaceIn(base, "vantora");
    if (!MakeFolders(folder, error)) return {};
    return folder;
}

bool PrepareFolderOf(const std::string& path, std::string& error) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return true;
    return MakeFolders(path.substr(0, slash), error);
}

}  // namespace vantora
