// The engine's hot path: open, read, parse and look up one key of a 10-key settings file, on
// every lookup. Each read is measured next to its floor, the bare open+fstat+read+close of the
// same file, in the same run.
#include "platform/plist/PropertyList.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Platform::Plist;

namespace {

// The same ten entries as settingsDictionary(), written by Python's plistlib in binary form.
constexpr char settingsBinary[]
    = "\x62\x70\x6c\x69\x73\x74\x30\x30\xda\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0b\x0d\x0e\x0f\x10"
      "\x0b\x11\x12\x5f\x10\x12\x62\x6c\x6f\x63\x6b\x4e\x6f\x74\x69\x66\x69\x63\x61\x74\x69\x6f\x6e\x73\x55\x64"
      "\x65\x6c\x61\x79\x57\x65\x6e\x61\x62\x6c\x65\x64\x5f\x10\x0f\x66\x6c\x61\x73\x68\x6c\x69\x67\x68\x74\x4c"
      "\x65\x76\x65\x6c\x54\x6d\x6f\x64\x65\x54\x6e\x61\x6d\x65\x5c\x72\x65\x71\x75\x69\x72\x65\x41\x75\x64\x69"
      "\x6f\x5f\x10\x10\x73\x68\x6f\x77\x4f\x6e\x4c\x6f\x63\x6b\x53\x63\x72\x65\x65\x6e\x59\x74\x68\x72\x65\x73"
      "\x68\x6f\x6c\x64\x57\x76\x65\x72\x73\x69\x6f\x6e\x09\x23\x3f\xe0\x00\x00\x00\x00\x00\x00\x10\x00\x10\x02"
      "\x57\x4b\x65\x73\x74\x72\x65\x6c\x08\x23\x3f\xf4\x00\x00\x00\x00\x00\x00\x10\x03\x08\x1d\x32\x38\x40\x52"
      "\x57\x5c\x69\x7c\x86\x8e\x8f\x98\x9a\x9c\xa4\xa5\xae\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00"
      "\x00\x00\x13\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xb0";

Dictionary settingsDictionary()
{
    Dictionary settings;
    settings.set("enabled", Value::boolean(true));
    settings.set("delay", Value::real(0.5));
    settings.set("mode", Value::integer(2));
    settings.set("requireAudio", Value::boolean(false));
    settings.set("blockNotifications", Value::boolean(true));
    settings.set("flashlightLevel", Value::integer(0));
    settings.set("name", Value::string("Kestrel"));
    settings.set("version", Value::integer(3));
    settings.set("showOnLockScreen", Value::boolean(true));
    settings.set("threshold", Value::real(1.25));
    return settings;
}

class SettingsFiles {
public:
    SettingsFiles()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "plist-bench-XXXXXX").string();
        m_directory = ::mkdtemp(pattern.data());
        xmlPath = m_directory + "/settings.plist";
        binaryPath = m_directory + "/settings.bplist";
        writeFileAtomically(xmlPath, Value(settingsDictionary()));
        std::ofstream(binaryPath, std::ios::binary).write(settingsBinary, sizeof(settingsBinary) - 1);
    }
    ~SettingsFiles() { std::filesystem::remove_all(m_directory); }

    std::string xmlPath;
    std::string binaryPath;

private:
    std::string m_directory;
};

SettingsFiles& files()
{
    static SettingsFiles files;
    return files;
}

// What any reader of the file must do at least.
std::size_t readFloor(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status;
    ::fstat(fd, &status);
    auto buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(status.st_size));
    auto count = ::read(fd, buffer.get(), static_cast<std::size_t>(status.st_size));
    ::close(fd);
    benchmark::DoNotOptimize(buffer.get());
    return static_cast<std::size_t>(count);
}

void floorXml(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(readFloor(files().xmlPath));
}

void lookupXml(benchmark::State& state)
{
    for (auto _ : state) {
        LookupResult result = lookup(files().xmlPath, "enabled");
        if (result.status != LookupStatus::Found) {
            state.SkipWithError("lookup failed");
            break;
        }
        benchmark::DoNotOptimize(result.value.boolValue());
    }
}

void floorBinary(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(readFloor(files().binaryPath));
}

void lookupBinary(benchmark::State& state)
{
    for (auto _ : state) {
        LookupResult result = lookup(files().binaryPath, "enabled");
        if (result.status != LookupStatus::Found) {
            state.SkipWithError("lookup failed");
            break;
        }
        benchmark::DoNotOptimize(result.value.boolValue());
    }
}

// For comparison: reading the whole file into values.
void readFileXml(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(readFile(files().xmlPath).ok());
}

void readFileBinary(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(readFile(files().binaryPath).ok());
}

// The parsing share alone, without the file system.
void lookupXmlInMemory(benchmark::State& state)
{
    std::string bytes = toXml(Value(settingsDictionary()));
    for (auto _ : state)
        benchmark::DoNotOptimize(lookupInBytes(bytes, "enabled").status);
}

void lookupBinaryInMemory(benchmark::State& state)
{
    std::string_view bytes(settingsBinary, sizeof(settingsBinary) - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(lookupInBytes(bytes, "enabled").status);
}

} // namespace

BENCHMARK(floorXml);
BENCHMARK(lookupXml);
BENCHMARK(floorBinary);
BENCHMARK(lookupBinary);
BENCHMARK(readFileXml);
BENCHMARK(readFileBinary);
BENCHMARK(lookupXmlInMemory);
BENCHMARK(lookupBinaryInMemory);

BENCHMARK_MAIN();
