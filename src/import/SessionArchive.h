// A session file is a zip archive whose logic entries hold the samples. The capture library reads a
// damaged entry as far as it can and ends the samples there without a word, so the entries are
// checked first: read through once, which verifies each one's checksum.
#pragma once

#include <atomic>
#include <string>

namespace imp {

enum class ArchiveCheck {
    NotArchive, // not a zip archive: some other kind of capture
    Sound,
    Damaged,
    Stopped, // the stop request came while checking
};

// *error gets one line naming the file, the entry and the cause when Damaged.
ArchiveCheck CheckSessionArchive(const std::string& path, const std::atomic<bool>* stop, std::string* error);

} // namespace imp
