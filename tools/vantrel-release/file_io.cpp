#include "vantrel-release/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

namespace vantrel::release_tool {
namespace {

constexpr std::size_t read_growth = 65536;

Failure system_failure(const std::filesystem::path& path, int code) {
    return {path.string() + ": " + std::strerror(code)};
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }

    // Closes now: some file systems report a failed write only here.
    int close_now() {
        const int status = ::close(fd_);
        fd_ = -1;
        return status == 0 ? 0 : errno;
    }

  private:
    int fd_;
};

// Removes the temporary file on every path but a successful rename.
class TemporaryName {
  public:
    explicit TemporaryName(std::string path) : path_(std::move(path)) {}
    ~TemporaryName() {
        if (!renamed_)
            ::unlink(path_.c_str());
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;

    const std::string& path() const { return path_; }
    void mark_renamed() { renamed_ = true; }

  private:
    std::string path_;
    bool renamed_ = false;
};

Done write_all(int fd, ByteView bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return system_failure(path, errno);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return {};
}

// A rename is durable only once its folder is flushed.
Done sync_folder(const std::filesystem::path& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return system_failure(folder, errno);
    if (::fsync(fd.get()) != 0)
        return system_failure(folder, errno);
    return {};
}

}  // namespace

Outcome<Bytes> read_at_most(const std::filesystem::path& path, std::size_t count) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return system_failure(path, errno);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        return system_failure(path, errno);
    if (!S_ISREG(status.st_mode))
        return Failure{path.string() + ": not a regular file"};

    // Sized from the file up front with room for the read that finds its end, so
    // that the bytes are read in place once and the buffer never moves.
    Bytes bytes(std::min(count, static_cast<std::size_t>(status.st_size) + 1));
    std::size_t filled = 0;
    while (filled < count) {
        if (filled == bytes.size())
            bytes.resize(std::min(count, bytes.size() + read_growth));
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return system_failure(path, errno);
        }
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

Done write_file_atomically(const std::filesystem::path& path, ByteView bytes, mode_t mode,
                           Existing existing) {
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return system_failure(folder, errno);
    TemporaryName temporary(std::move(pattern));

    if (::fchmod(fd.get(), mode) != 0)
        return system_failure(temporary.path(), errno);
    if (Done written = write_all(fd.get(), bytes, temporary.path()); !written)
        return written;
    if (::fsync(fd.get()) != 0)
        return system_failure(temporary.path(), errno);
    if (const int code = fd.close_now(); code != 0)
        return system_failure(temporary.path(), code);

    if (existing == Existing::Keep) {
        // A hard link never replaces its target; the temporary name goes afterwards.
        if (::link(temporary.path().c_str(), path.c_str()) != 0) {
            if (errno == EEXIST)
                return Failure{path.string() + ": already exists"};
            return system_failure(path, errno);
        }
    } else {
        if (::rename(temporary.path().c_str(), path.c_str()) != 0)
            return system_failure(path, errno);
        temporary.mark_renamed();
    }
    return sync_folder(folder);
}

Done create_folders(const std::filesystem::path& folder) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code)
        return Failure{folder.string() + ": " + code.message()};
    return {};
}

}  // namespace vantrel::release_tool
