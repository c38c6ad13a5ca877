// A throwaway device for tests: a fresh directory made the device root for the test's life.
#pragma once

#include "platform/fs/DeviceRoot.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>

class TemporaryDevice {
public:
    TemporaryDevice()
    {
        auto base = std::filesystem::temp_directory_path() / "kestrel-device-XXXXXX";
        std::string pattern = base.string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary device");
        m_root = pattern;
        Platform::setDeviceRoot(m_root);
    }

    ~TemporaryDevice()
    {
        Platform::clearDeviceRoot();
        std::error_code error;
        std::filesystem::remove_all(m_root, error);
    }

    TemporaryDevice(const TemporaryDevice&) = delete;
    TemporaryDevice& operator=(const TemporaryDevice&) = delete;

    const std::string& root() const { return m_root; }
    std::string hostPath(std::string_view devicePath) const { return m_root + std::string(devicePath); }

    void writeFile(std::string_view devicePath, std::string_view contents, mode_t mode = 0644) const
    {
        auto path = std::filesystem::path(hostPath(devicePath));
        std::filesystem::create_directories(path.parent_path());
        {
            std::ofstream stream(path, std::ios::binary | std::ios::trunc);
            stream << contents;
        }
        ::chmod(path.c_str(), mode);
    }

    void writeScript(std::string_view devicePath, std::string_view body) const
    {
        writeFile(devicePath, "#!/bin/sh\n" + std::string(body) + "\n", 0755);
    }

private:
    std::string m_root;
};
