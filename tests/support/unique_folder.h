#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace TestSupport {

// A folder of its own under the temporary directory, removed with what it
// holds at the end. Creating a folder is atomic, so programs running at the
// same time never share one. Standard C++ alone: native builds use it too.
class UniqueFolder {
public:
    explicit UniqueFolder(const std::string& prefix)
    {
        for (unsigned i = 0;; ++i) {
            path_ = std::filesystem::temp_directory_path() / (prefix + std::to_string(i));
            if (std::filesystem::create_directory(path_))
                break;
        }
    }
    ~UniqueFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    UniqueFolder(const UniqueFolder&) = delete;
    UniqueFolder& operator=(const UniqueFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace TestSupport
