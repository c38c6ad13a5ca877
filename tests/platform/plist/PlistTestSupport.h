// Shared pieces of the property-list tests: a scratch directory, running Python's plistlib (the
// reference implementation here), and a builder for hand-made binary files.
#pragma once

#include "platform/plist/PropertyList.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace PlistTest {

class ScratchDirectory {
public:
    ScratchDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "plist-test-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string path(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

    std::string write(const std::string& name, std::string_view bytes) const
    {
        std::string file = path(name);
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }

private:
    std::string m_path;
};

inline std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// Runs a Python script with the arguments given (no shell quoting needed: the words are plain
// paths) and returns its standard output; the exit status lands in `status`.
inline std::string runPython(
    const ScratchDirectory& scratch, const std::string& script, const std::string& arguments, int& status)
{
    std::string scriptPath = scratch.write("script.py", script);
    std::string command = "python3 " + scriptPath + " " + arguments;
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return output;
    }
    std::array<char, 4096> buffer;
    while (std::size_t count = std::fread(buffer.data(), 1, buffer.size(), pipe))
        output.append(buffer.data(), count);
    int raw = ::pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

// Runs `check` in a child process without root's powers over file permissions (as root, the
// child switches to the unprivileged user "nobody" first) and answers whether it returned true.
template <typename Check> bool runUnprivileged(Check check)
{
    pid_t child = ::fork();
    if (child < 0)
        return false;
    if (!child) {
        if (::geteuid() == 0 && (::setgid(65534) || ::setuid(65534)))
            ::_exit(2);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Hand-made bplist00 files: objects are raw encodings added in order; build() lays out the
// header, objects, offset table and trailer.
class BinaryBuilder {
public:
    unsigned referenceSize { 1 };
    unsigned offsetSize { 1 };
    std::uint64_t topObject { 0 };

    std::size_t add(std::string encoded)
    {
        m_objects.push_back(std::move(encoded));
        return m_objects.size() - 1;
    }
    std::string reference(std::uint64_t value) const { return bigEndian(value, referenceSize); }
    std::size_t addContainer(unsigned char kind, const std::vector<std::uint64_t>& references)
    {
        std::string encoded = marker(kind, references.size() / (kind == 0xD ? 2 : 1));
        for (auto value : references)
            encoded += reference(value);
        return add(encoded);
    }
    std::size_t addArray(const std::vector<std::uint64_t>& elements) { return addContainer(0xA, elements); }
    std::size_t addAscii(const std::string& text) { return add(marker(0x5, text.size()) + text); }

    static std::string marker(unsigned char kind, std::uint64_t count)
    {
        if (count < 15)
            return std::string(1, static_cast<char>(kind << 4 | count));
        return std::string(1, static_cast<char>(kind << 4 | 0xF)) + "\x13" + bigEndian(count, 8);
    }
    static std::string bigEndian(std::uint64_t value, unsigned size)
    {
        std::string out(size, '\0');
        for (unsigned i = 0; i < size; ++i)
            out[size - 1 - i] = static_cast<char>(value >> (8 * i));
        return out;
    }

    std::string build() const
    {
        std::string file = "bplist00";
        std::vector<std::uint64_t> offsets;
        for (auto& object : m_objects) {
            offsets.push_back(file.size());
            file += object;
        }
        std::uint64_t tableOffset = file.size();
        for (auto offset : offsets)
            file += bigEndian(offset, offsetSize);
        file += std::string(6, '\0');
        file += static_cast<char>(offsetSize);
        file += static_cast<char>(referenceSize);
        file += bigEndian(m_objects.size(), 8) + bigEndian(topObject, 8) + bigEndian(tableOffset, 8);
        return file;
    }

private:
    std::vector<std::string> m_objects;
};

// The trailer's fields, by their offset from the end of the file.
enum class TrailerField { OffsetSize = 26, ReferenceSize = 25, ObjectCount = 24, TopObject = 16, TableOffset = 8 };

inline std::string withTrailerField(std::string file, TrailerField field, std::uint64_t value)
{
    std::size_t at = file.size() - static_cast<std::size_t>(field);
    unsigned size = field == TrailerField::OffsetSize || field == TrailerField::ReferenceSize ? 1 : 8;
    file.replace(at, size, BinaryBuilder::bigEndian(value, size));
    return file;
}

} // namespace PlistTest
