#include "platform/hardware/jack/JackServerPresence.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace corvane::hw {

namespace {

bool isSocket(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Calls `each` with every entry of `folder` whose name starts with `prefix`
// until it returns true; whether one did.
template <typename Each>
bool anyEntry(const std::string& folder, const char* prefix, Each each) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (!found) {
        const dirent* entry = ::readdir(dir);
        if (!entry)
            break;
        if (std::strncmp(entry->d_name, prefix, std::strlen(prefix)) == 0 && std::strcmp(entry->d_name, ".") != 0 &&
            std::strcmp(entry->d_name, "..") != 0)
            found = each(folder + "/" + entry->d_name);
    }
    ::closedir(dir);
    return found;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

std::string JackServerPlaces::defaultPipeWireSocket() {
    std::string folder = environment("PIPEWIRE_RUNTIME_DIR");
    if (folder.empty())
        folder = environment("XDG_RUNTIME_DIR");
    if (folder.empty())
        folder = "/run/user/" + std::to_string(::getuid());
    std::string remote = environment("PIPEWIRE_REMOTE");
    if (remote.empty())
        remote = "pipewire-0";
    return remote.front() == '/' ? remote : folder + "/" + remote;
}

bool jackServerMayBeRunning(const JackServerPlaces& places) {
    if (!places.pipeWireSocket.empty() && isSocket(places.pipeWireSocket))
        return true;
    const std::string& shm = places.sharedMemoryFolder;
    if (anyEntry(shm, "jack_", isSocket))
        return true;
    return anyEntry(shm, "jack-", [](const std::string& path) {
        return isFolder(path) && anyEntry(path, "", [](const std::string& server) {
                   return isFolder(server) && anyEntry(server, "", isSocket);
               });
    });
}

} // namespace corvane::hw
