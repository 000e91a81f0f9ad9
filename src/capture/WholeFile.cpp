#include "WholeFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

bool CWholeFile::Open(const std::string& path, size_t bufferSize) {
    Discard();
    target = path;
    error = 0;
    fs::path dir = fs::path(path).parent_path();
    if (dir.empty()) dir = ".";
    // Hidden, so that a folder listing does not offer it while it is written.
    std::string pattern = (dir / ("." + fs::path(path).filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        Fail();
        return false;
    }
    temp = pattern;
    ::fchmod(fd, 0644);
    file = ::fdopen(fd, "wb");
    if (!file) {
        Fail();
        ::close(fd);
        Discard();
        return false;
    }
    if (bufferSize == 0) std::setvbuf(file, nullptr, _IONBF, 0);
    else std::setvbuf(file, nullptr, _IOFBF, bufferSize);
    return true;
}

void CWholeFile::Fail() {
    if (error == 0) error = errno != 0 ? errno : EIO;
}

bool CWholeFile::Write(const void* data, size_t size) {
    if (error != 0 || !file) return false;
    if (size > 0 && std::fwrite(data, 1, size, file) != size) Fail();
    return error == 0;
}

bool CWholeFile::WriteAt(int64_t offset, const void* data, size_t size) {
    if (error != 0 || !file) return false;
    if (std::fflush(file) != 0 || fseeko(file, off_t(offset), SEEK_SET) != 0 ||
        std::fwrite(data, 1, size, file) != size || std::fflush(file) != 0 || fseeko(file, 0, SEEK_END) != 0)
        Fail();
    return error == 0;
}

bool CWholeFile::Commit() {
    if (!file) return false;
    if (error == 0 && (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0)) Fail();
    if (std::fclose(file) != 0) Fail();
    file = nullptr;
    if (error == 0 && std::rename(temp.c_str(), target.c_str()) != 0) Fail();
    if (error != 0) {
        Discard();
        return false;
    }
    temp.clear();
    return true;
}

void CWholeFile::Discard() {
    if (file) std::fclose(file);
    file = nullptr;
    if (!temp.empty()) ::unlink(temp.c_str());
    temp.clear();
}

std::string CWholeFile::Error() const {
    return target + ": cannot be written: " + std::strerror(error != 0 ? error : EIO);
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ec;
    if (fs::equivalent(a, b, ec) && !ec) return true;
    const fs::path na = fs::absolute(a, ec).lexically_normal(), nb = fs::absolute(b, ec).lexically_normal();
    return !ec && na == nb;
}

std::string InputFileText(const std::string& output) { return output + ": is an input file; choose another output"; }
