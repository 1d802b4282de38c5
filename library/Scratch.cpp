#include "Scratch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <utility>
#include <vector>

namespace mirtolan {

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Empties the open folder `fd` (which it closes) entry by entry, each
// reached through its folder's descriptor, so no path is looked up again
// after it was checked.
int removeInside(int fd)
{
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    int first = 0;
    const auto note = [&](int err) {
        if (first == 0)
            first = err;
    };
    for (const std::string& name : names) {
        if (::unlinkat(fd, name.c_str(), 0) == 0 || errno == ENOENT)
            continue;
        if (errno != EISDIR && errno != EPERM) {
            note(errno);
            continue;
        }
        // A folder (a link would have been unlinked above): opened without
        // following a link, in case one took its place meanwhile.
        const int sub = ::openat(fd, name.c_str(), DirectoryFlags);
        if (sub < 0) {
            note(errno);
            continue;
        }
        note(removeInside(sub));
        if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            note(errno);
    }
    ::closedir(dir);
    return first;
}

} // namespace

int RemoveTree(const std::string& path)
{
    const int fd = ::open(path.c_str(), DirectoryFlags);
    if (fd < 0) {
        if (errno == ENOENT)
            return 0;
        // A file or a symbolic link: it goes itself.
        if (errno == ENOTDIR || errno == ELOOP)
            return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
        return errno;
    }
    const int err = removeInside(fd);
    if (::rmdir(path.c_str()) != 0 && errno != ENOENT)
        return err ? err : errno;
    return err;
}

PrivateFolder::PrivateFolder(std::string_view prefix, const std::string& parent)
{
    std::error_code ec;
    const std::filesystem::path temp = parent.empty() ? std::filesystem::temp_directory_path(ec) : std::filesystem::path(parent);
    if (ec) {
        error_ = "no temporary directory: " + ec.message();
        return;
    }
    std::string pattern = (std::filesystem::absolute(temp, ec) / (std::string(prefix) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()))
        path_ = std::move(pattern);
    else
        error_ = "cannot make a scratch folder in " + temp.string() + ": " + std::strerror(errno);
}

PrivateFolder::~PrivateFolder()
{
    if (!path_.empty())
        RemoveTree(path_);
}

PrivateFolder::PrivateFolder(PrivateFolder&& other) noexcept
    : path_(std::exchange(other.path_, {})), error_(std::move(other.error_))
{
}

PrivateFolder& PrivateFolder::operator=(PrivateFolder&& other) noexcept
{
    if (this != &other) {
        if (!path_.empty())
            RemoveTree(path_);
        path_ = std::exchange(other.path_, {});
        error_ = std::move(other.error_);
    }
    return *this;
}

std::string PrivateFolder::file(std::string_view name) const { return path_ + "/" + std::string(name); }

} // namespace mirtolan
