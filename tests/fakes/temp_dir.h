// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes. Its path uses '/' throughout, the
// separator FakeOs reports, on Windows too.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

class TempDir {
public:
    TempDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        std::random_device random;
        for (int i = 0; i < 100 && path_.empty() && !ec; ++i) {
            const fs::path dir = base / ("ow" + std::to_string(random()));
            if (fs::create_directory(dir, ec)) path_ = dir.generic_string();
        }
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when no directory could be made.
    const std::string& path() const { return path_; }
    // Makes dir/name (and what leads to it); false when it cannot.
    bool MakeSubdir(const std::string& name) const {
        std::error_code ec;
        std::filesystem::create_directories(path_ + "/" + name, ec);
        return !ec;
    }

private:
    std::string path_;
};
