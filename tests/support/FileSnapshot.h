// A folder's regular files and their contents, to show that something left it as it was.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace TestSupport {

inline std::string readAll(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

inline std::map<std::string, std::string> snapshot(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files[entry.path().string()] = readAll(entry.path());
    }
    return files;
}

} // namespace TestSupport
