// Private scratch folders: made by mkdtemp (mode 0700, a name nobody can
// foresee), so no other user can read what is built there or plant a file in
// its way, and removed with everything in them without following a symbolic
// link, so a link planted inside can never lead the removal elsewhere.
#pragma once

#include <string>
#include <string_view>

namespace mirtolan {

class PrivateFolder {
public:
    // A fresh folder in `parent` (by default the temporary directory:
    // $TMPDIR, else /tmp) whose name begins with `prefix`. On failure path()
    // is empty and error() says why.
    explicit PrivateFolder(std::string_view prefix = "mirtolan-", const std::string& parent = "");
    ~PrivateFolder();
    PrivateFolder(PrivateFolder&& other) noexcept;
    PrivateFolder& operator=(PrivateFolder&& other) noexcept;
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // The folder's absolute path; empty when it could not be made.
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }
    // `name` inside the folder.
    std::string file(std::string_view name) const;

private:
    std::string path_;  // the folder; empty when none was made
    std::string error_; // why none was made
};

// Removes `path` and, when it is a folder, everything below it. A symbolic
// link is removed itself, never followed. Returns 0, or the errno of the
// first entry that could not be removed (a missing `path` is no failure).
int RemoveTree(const std::string& path);

} // namespace mirtolan
