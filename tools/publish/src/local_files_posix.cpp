#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "local_files.hpp"
#include "system_error.hpp"

namespace kv::publish {
namespace {

std::string errno_text(int code) { return format_system_error(std::strerror(code), static_cast<std::uint32_t>(code)); }

// A descriptor that closes itself.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports whether the last writes reached the file.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

}  // namespace

fs::path path_from_utf8(std::string_view text) { return fs::path(std::string(text)); }
std::string utf8_of(const fs::path& path) { return path.string(); }
std::string generic_utf8_of(const fs::path& path) { return path.generic_string(); }

FileBytes read_file_bytes(const fs::path& path) {
    FileBytes read;
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        read.missing = errno == ENOENT || errno == ENOTDIR;
        read.error = errno_text(errno);
        return read;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof(buffer));
        if (got < 0) {
            if (errno == EINTR) continue;
            read.error = errno_text(errno);
            read.bytes.clear();
            return read;
        }
        if (got == 0) break;
        read.bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return read;
}

Result<std::chrono::system_clock::time_point> modified_time(const fs::path& path) {
    struct stat metadata {};
    if (::stat(path.c_str(), &metadata) != 0) return fail(errno_text(errno));
    const auto since_epoch = std::chrono::seconds(metadata.st_mtim.tv_sec) + std::chrono::nanoseconds(metadata.st_mtim.tv_nsec);
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(since_epoch));
}

bool path_exists(const fs::path& path) {
    struct stat metadata {};
    return ::stat(path.c_str(), &metadata) == 0;
}

bool is_link(const fs::path& path) {
    struct stat metadata {};
    return ::lstat(path.c_str(), &metadata) == 0 && S_ISLNK(metadata.st_mode);
}

Result<std::string> canonical_text(const fs::path& path) {
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    if (error) return fail(errno_text(error.value()));
    return resolved.string();
}

bool canonical_lies_within(std::string_view path, std::string_view folder) {
    if (folder == "/") return path.starts_with("/");
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    if (!path.starts_with(folder)) return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

Status write_file_durably(const fs::path& target, std::string_view bytes) {
    const fs::path temporary = target.string() + ".kv-publish-tmp";
    Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.get() < 0) return fail("cannot write " + temporary.string() + ": " + errno_text(errno));
    while (!bytes.empty()) {
        const ssize_t written = ::write(file.get(), bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return fail("cannot write " + temporary.string() + ": " + errno_text(errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::fsync(file.get()) != 0 || !file.close()) return fail("cannot flush " + temporary.string() + ": " + errno_text(errno));
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        return fail("cannot rename " + temporary.string() + " to " + target.string() + ": " + errno_text(errno));
    }
    // The rename itself reaches the disk with the folder's own flush.
    Descriptor folder(::open(target.parent_path().empty() ? "." : target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
    return ok();
}

Status create_folders(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return fail("cannot create " + folder.string() + ": " + errno_text(error.value()));
    return ok();
}

std::optional<fs::path> default_updates_folder() { return std::nullopt; }

void prepare_console() {}

}  // namespace kv::publish
