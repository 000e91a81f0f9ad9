#include "SessionArchive.h"

#include <zip.h>

#include <memory>
#include <vector>

namespace imp {

ArchiveCheck CheckSessionArchive(const std::string& path, const std::atomic<bool>* stop, std::string* error) {
    int openError = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &openError);
    if (!archive) return ArchiveCheck::NotArchive;
    const std::unique_ptr<zip_t, void (*)(zip_t*)> hold(archive, zip_discard);
    std::vector<char> buf(1 << 20);
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(archive, zip_uint64_t(i), 0);
        if (!name || std::string(name).rfind("logic-", 0) != 0) continue;
        auto damaged = [&](const char* cause) {
            *error = path + ": the session file is damaged (" + name + ": " + cause + ")";
            return ArchiveCheck::Damaged;
        };
        zip_file_t* entry = zip_fopen_index(archive, zip_uint64_t(i), 0);
        if (!entry) return damaged(zip_strerror(archive));
        zip_int64_t got;
        while ((got = zip_fread(entry, buf.data(), buf.size())) > 0) {
            if (stop && stop->load()) {
                zip_fclose(entry);
                return ArchiveCheck::Stopped;
            }
        }
        if (got < 0) {
            const std::string cause = zip_file_strerror(entry);
            zip_fclose(entry);
            return damaged(cause.c_str());
        }
        zip_fclose(entry);
    }
    return ArchiveCheck::Sound;
}

} // namespace imp
