// A private scratch folder for one test: made by mkdtemp under $TMPDIR,
// removed with everything in it when the object goes (symbolic links inside
// are removed, never followed). Every test that needs files takes one.
#pragma once

#include <stdexcept>
#include <string>

#include "Scratch.h"

namespace mirtolan::test {

class TempDir {
public:
    TempDir() : folder_("mirtolan-test-")
    {
        if (folder_.path().empty())
            throw std::runtime_error(folder_.error());
    }
    const std::string& path() const { return folder_.path(); }
    // `name` inside the folder.
    std::string operator/(const std::string& name) const { return folder_.file(name); }

private:
    PrivateFolder folder_; // the folder, removed with the object
};

} // namespace mirtolan::test
