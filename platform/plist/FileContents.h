// Reads a whole file that another process may have replaced with anything: a FIFO, a device, a
// directory, a huge file. Only a regular file up to the size cap is read; nothing blocks.
#pragma once

#include "platform/plist/PropertyListReader.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace Platform::Plist {

class FileContents {
public:
    FileContents() = default;
    FileContents(const FileContents&) = delete;
    FileContents& operator=(const FileContents&) = delete;

    // Ok, Missing (ENOENT) or Unreadable, with a short reason for the latter two.
    ReadStatus read(const std::string& hostPath, std::string& reason);
    std::string_view bytes() const { return std::string_view(m_data, m_size); }

private:
    void reserve(std::size_t capacity);

    // Settings files are small: they are read without touching the heap.
    char m_inline[4096];
    std::unique_ptr<char[]> m_heap;
    char* m_data { m_inline };
    std::size_t m_capacity { sizeof(m_inline) };
    std::size_t m_size { 0 };
};

} // namespace Platform::Plist
