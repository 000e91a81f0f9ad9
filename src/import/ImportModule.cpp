#include "ImportModule.h"

#include <filesystem>
#include <mutex>

#include <dlfcn.h>

namespace imp {

namespace fs = std::filesystem;

std::vector<std::string> ImportModuleFolders(const std::string& first) {
    std::vector<std::string> dirs;
    if (!first.empty()) dirs.push_back(first);
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        dirs.push_back(exe.parent_path().string());
        dirs.push_back((exe.parent_path().parent_path() / AMBRIO_MODULE_SUBDIR).string());
    }
    dirs.push_back(AMBRIO_MODULE_DIR);
    return dirs;
}

const ImportModuleApi* LoadImportModule(std::string* error, const std::string& first) {
    static std::mutex lock;
    static const ImportModuleApi* api = nullptr;
    const std::lock_guard<std::mutex> hold(lock);
    if (api) return api;
    std::string tried;
    for (const std::string& dir : ImportModuleFolders(first)) {
        const std::string path = (fs::path(dir) / kImportModuleFile).string();
        if (!fs::exists(path)) {
            tried += (tried.empty() ? "" : ", ") + dir;
            continue;
        }
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            *error = std::string("the import module cannot be loaded: ") + (why ? why : path);
            return nullptr;
        }
        using Entry = const ImportModuleApi* (*)();
        const auto entry = reinterpret_cast<Entry>(::dlsym(handle, kImportModuleEntry));
        const ImportModuleApi* found = entry ? entry() : nullptr;
        if (!found || found->version != kImportModuleVersion) {
            ::dlclose(handle);
            *error = path + ": not this build's import module";
            return nullptr;
        }
        api = found; // stays loaded for the rest of the run
        return api;
    }
    *error = std::string("the import module ") + kImportModuleFile + " is missing (looked in " + tried + ")";
    return nullptr;
}

} // namespace imp
