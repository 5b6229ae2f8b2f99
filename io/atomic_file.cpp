// Temporary file in the target's directory, then rename(2), which is atomic
// within one file system.
#include "io/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace matmodel {
namespace {

[[noreturn]] void Fail(const std::string& path, int err) {
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(err));
}

// Creates the temporary file with O_EXCL and mode 0666, so that the process
// umask gives it the permissions a plain new file would get (mkstemp would
// make it 0600). Hidden, and named after the target, so that a leftover from a
// killed process is recognisable.
int CreateTemporary(const std::filesystem::path& target, std::string& name) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
    const auto salt = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = (dir / ("." + target.filename().string() + ".tmp-" +
                       std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                       std::to_string(salt % 1000000)))
                   .string();
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view content) {
    const std::filesystem::path target(path);
    std::error_code ec;
    if (std::filesystem::is_directory(target, ec))
        throw std::runtime_error("cannot write " + path + ": it is a directory");

    std::string name;
    const int fd = CreateTemporary(target, name);
    if (fd < 0) Fail(path, errno);

    auto abandon = [&](int err, bool open) {
        if (open) ::close(fd);
        ::unlink(name.c_str());
        Fail(path, err);
    };
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon(errno, true);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) abandon(errno, false);
    if (std::rename(name.c_str(), path.c_str()) != 0) abandon(errno, false);
}

}  // namespace matmodel
