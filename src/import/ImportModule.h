// The importer as a module that qxtool loads only for `qxtool import`: the capture library and its
// twenty-odd dependencies stay out of every other run.
#pragma once

#include "LogicImport.h"

#include <string>
#include <vector>

namespace imp {

constexpr char kImportModuleFile[] = "libambrio_import_plugin.so";
constexpr char kImportModuleEntry[] = "ambrio_import_module";

// What the module offers; module and programs come from one build.
struct ImportModuleApi {
    int version;
    ImportReport (*importCapture)(const ImportRequest& request);
};
constexpr int kImportModuleVersion = 2;

// Folders searched, in order: `first` when given (a library that holds the loader, such as the Python
// module, names its own folder), the program's own, then the installation's module folder (relative to
// the program, for a staged install, then where it was configured to go).
std::vector<std::string> ImportModuleFolders(const std::string& first = {});

// Loads the module once and keeps it; nullptr with *error one line naming what is missing.
const ImportModuleApi* LoadImportModule(std::string* error, const std::string& first = {});

} // namespace imp
