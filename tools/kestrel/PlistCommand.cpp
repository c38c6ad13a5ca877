#include "tools/kestrel/PlistCommand.h"

#include "platform/plist/PropertyListReader.h"
#include "platform/plist/PropertyListWriter.h"

#include <cerrno>
#include <iostream>

static constexpr const char* plistUsage = "usage: kestrel plist print FILE\n";

int runPlistCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.size() != 2 || args[0] != "print") {
        err << plistUsage;
        return 2;
    }
    const std::string& path = args[1];
    auto result = Platform::Plist::readFile(path);
    if (!result.ok()) {
        err << "kestrel: " << path << ": " << result.reason << '\n';
        return 2;
    }
    errno = 0;
    out << Platform::Plist::toXml(result.value) << std::flush;
    // A reader that has seen enough (`| head`) is no error.
    if (!out && errno == EPIPE)
        return 0;
    if (!out) {
        err << "kestrel: standard output: write error\n";
        return 2;
    }
    return 0;
}

int runPlistCommand(const std::vector<std::string>& args) { return runPlistCommand(args, std::cout, std::cerr); }
