// Small helpers the main window's command files share: text between Qt and the standard library, and
// the record file extension.
#pragma once

#include <QString>

#include <cstddef>
#include <cstring>
#include <string>

namespace frame {

inline constexpr char kRecordExtension[] = ".qxc";
inline constexpr size_t kRecentFileCount = 4;

inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

inline std::string S(const QString& s) {
    return s.toStdString();
}

inline bool HasRecordExtension(const std::string& path) {
    const size_t n = std::strlen(kRecordExtension);
    return path.size() >= n &&
           QString::fromStdString(path.substr(path.size() - n)).compare(kRecordExtension, Qt::CaseInsensitive) == 0;
}

} // namespace frame
