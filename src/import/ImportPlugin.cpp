// The entry point of the loadable import module.
#include "ImportModule.h"

namespace {

const imp::ImportModuleApi kApi = {imp::kImportModuleVersion, imp::ImportLogicCapture};

} // namespace

extern "C" __attribute__((visibility("default"))) const imp::ImportModuleApi* ambrio_import_module() { return &kApi; }
