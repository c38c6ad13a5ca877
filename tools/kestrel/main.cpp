// The kestrel command: lay out simulated devices, run scenarios against them,
// look at the settings pane, and read property lists.
#include "host/device/DeviceHold.h"
#include "host/device/DeviceLayout.h"
#include "host/device/PackageManager.h"
#include "host/device/Words.h"
#include "tools/kestrel/Demo.h"
#include "tools/kestrel/PlistCommand.h"
#include "tools/kestrel/SettingsCommand.h"
#include "tools/kestrel/scenario/ScenarioRun.h"
#include "tools/kestrel/serve/ServeCommand.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* usageText = "usage:\n"
                                  "  kestrel demo [--keep DIR]\n"
                                  "  kestrel init DIR [--companion | --stock]\n"
                                  "  kestrel install DIR FILE.deb\n"
                                  "  kestrel remove DIR [--purge]\n"
                                  "  kestrel run DIR SCENARIO [--real-time]\n"
                                  "  kestrel boot DIR [--real-time]\n"
                                  "  kestrel serve DIR [--port N] [--virtual-time]\n"
                                  "  kestrel settings DIR list | set KEY VALUE | tap ACTION | render OUT.png\n"
                                  "  kestrel plist print FILE\n";

int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

// A command given wrongly: one line naming an option it does not take, or its own form.
int usage(std::string_view command, const std::vector<std::string>& flags = {},
    std::initializer_list<std::string_view> allowed = {})
{
    for (auto& flag : flags) {
        if (std::find(allowed.begin(), allowed.end(), flag) == allowed.end()) {
            std::fprintf(stderr, "kestrel %.*s: no option %s\n", int(command.size()), command.data(), flag.c_str());
            return 2;
        }
    }
    std::string_view text = usageText;
    std::string wanted = "  kestrel " + std::string(command) + " ";
    size_t start = text.find(wanted);
    if (start == std::string_view::npos)
        return usage();
    size_t end = text.find('\n', start);
    std::fprintf(stderr, "usage: %.*s\n", int(end - start - 2), text.data() + start + 2);
    return 2;
}

int error(const std::string& message)
{
    std::fprintf(stderr, "kestrel: %s\n", message.c_str());
    return 2;
}

// The words after the subcommand, with the flags taken out.
struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::string> flags;
    bool has(std::string_view flag) const
    {
        for (auto& given : flags) {
            if (given == flag)
                return true;
        }
        return false;
    }
};

Arguments splitArguments(int argc, char** argv, int first)
{
    Arguments arguments;
    for (int i = first; i < argc; ++i) {
        std::string word = argv[i];
        if (word.starts_with("--") && word.size() > 2)
            arguments.flags.push_back(word);
        else
            arguments.positional.push_back(word);
    }
    return arguments;
}

bool onlyFlags(const Arguments& arguments, std::initializer_list<std::string_view> allowed)
{
    for (auto& flag : arguments.flags) {
        bool known = false;
        for (auto name : allowed)
            known = known || flag == name;
        if (!known)
            return false;
    }
    return true;
}

std::optional<std::string> absolutePath(const std::string& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return std::nullopt;
    return std::string(resolved);
}

// The device at DIR, or an error line.
std::optional<std::string> deviceAt(const std::string& directory, std::string& problem)
{
    auto root = absolutePath(directory);
    if (!root || !Device::isDevice(*root)) {
        problem = directory + " is not a device (make one with: kestrel init " + directory + ")";
        return std::nullopt;
    }
    return root;
}

int init(const Arguments& arguments)
{
    if (arguments.positional.size() != 1 || !onlyFlags(arguments, { "--companion", "--stock" }))
        return usage("init", arguments.flags, { "--companion", "--stock" });
    const auto& directory = arguments.positional[0];
    Device::InitOptions options;
    options.companion = arguments.has("--companion");
    options.stock = arguments.has("--stock");
    if (options.companion && options.stock)
        return error("--stock lays out the base system alone; it does not go with --companion");
    if (auto failure = Device::initDevice(directory, options, Device::Artifacts::nextToExecutable()))
        return error(*failure);
    std::printf("device ready at %s\n", absolutePath(directory).value_or(directory).c_str());
    return 0;
}

// What dpkg did, or why it did nothing, in one line.
int report(const Device::PackageResult& result)
{
    if (!result.ok)
        return error(result.message);
    std::printf("%s\n", result.message.c_str());
    return 0;
}

int installPackage(const Arguments& arguments)
{
    if (arguments.positional.size() != 2 || !arguments.flags.empty())
        return usage("install", arguments.flags);
    std::string problem;
    auto root = deviceAt(arguments.positional[0], problem);
    if (!root)
        return error(problem);
    return report(Device::PackageManager(*root).install(arguments.positional[1]));
}

int removeKestrel(const Arguments& arguments)
{
    if (arguments.positional.size() != 1 || !onlyFlags(arguments, { "--purge" }))
        return usage("remove", arguments.flags, { "--purge" });
    std::string problem;
    auto root = deviceAt(arguments.positional[0], problem);
    if (!root)
        return error(problem);
    return report(Device::PackageManager(*root).remove(Device::PackageNames::kestrel, arguments.has("--purge")));
}

int run(const Arguments& arguments)
{
    if (arguments.positional.size() != 2 || !onlyFlags(arguments, { "--real-time" }))
        return usage("run", arguments.flags, { "--real-time" });
    std::string problem;
    auto root = deviceAt(arguments.positional[0], problem);
    if (!root)
        return error(problem);
    const auto& file = arguments.positional[1];
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return error(file + ": cannot read the scenario");
    std::ostringstream text;
    text << stream.rdbuf();
    auto scenario = Kestrel::parseScenario(text.str(), problem);
    if (!scenario)
        return error(file + ":" + problem);

    auto session = Kestrel::DeviceSession::open(*root, { arguments.has("--real-time") }, problem);
    if (!session)
        return error(problem);
    int failures = 0;
    {
        Kestrel::ScenarioRun run(*session);
        run.run(*scenario);
        session->shutdown();
        failures = run.failures();
    }
    if (failures) {
        std::fprintf(stderr, "kestrel: %d failure%s\n", failures, failures == 1 ? "" : "s");
        return 1;
    }
    return 0;
}

int boot(const Arguments& arguments)
{
    if (arguments.positional.size() != 1 || !onlyFlags(arguments, { "--real-time" }))
        return usage("boot", arguments.flags, { "--real-time" });
    std::string problem;
    auto root = deviceAt(arguments.positional[0], problem);
    if (!root)
        return error(problem);
    auto session = Kestrel::DeviceSession::open(*root, { arguments.has("--real-time") }, problem);
    if (!session)
        return error(problem);
    Kestrel::ScenarioRun run(*session);
    if (!run.runLine({ 0, Kestrel::Boot {} }))
        return 1;
    Kestrel::ScenarioPhase phase { true };
    std::string line;
    int number = 0;
    while (std::getline(std::cin, line)) {
        ++number;
        auto parsed = Kestrel::parseCommand(line, phase);
        if (!parsed.ok())
            std::fprintf(stderr, "kestrel: stdin:%d: %s\n", number, parsed.error.c_str());
        else if (parsed.command)
            run.runLine({ number, std::move(*parsed.command) });
    }
    session->shutdown();
    return run.failures() ? 1 : 0;
}

int serve(const std::vector<std::string>& words)
{
    Kestrel::ServeOptions options;
    std::vector<std::string> positional;
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--virtual-time")
            options.realTime = false;
        else if (words[i] == "--port" || words[i].starts_with("--port=")) {
            std::string value = words[i] == "--port" ? (i + 1 < words.size() ? words[++i] : "") : words[i].substr(7);
            auto port = Device::parseInteger(value);
            if (!port || *port < 0 || *port > 65535)
                return error("--port takes a port number from 0 to 65535 (0: any free port), not "
                    + (value.empty() ? "nothing" : value));
            options.port = int(*port);
        } else if (words[i].starts_with("--"))
            return usage("serve", { words[i] });
        else
            positional.push_back(words[i]);
    }
    if (positional.size() != 1)
        return usage("serve");
    std::string problem;
    auto root = deviceAt(positional[0], problem);
    if (!root)
        return error(problem);
    return Kestrel::serveDevice(*root, options);
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2)
        return usage();
    std::string command = argv[1];
    try {
        if (command == "init")
            return init(splitArguments(argc, argv, 2));
        if (command == "install")
            return installPackage(splitArguments(argc, argv, 2));
        if (command == "remove")
            return removeKestrel(splitArguments(argc, argv, 2));
        if (command == "run")
            return run(splitArguments(argc, argv, 2));
        if (command == "boot")
            return boot(splitArguments(argc, argv, 2));
        if (command == "serve")
            return serve(std::vector<std::string>(argv + 2, argv + argc));
        if (command == "demo")
            return Kestrel::runDemo(std::vector<std::string>(argv + 2, argv + argc));
        if (command == "settings")
            return Kestrel::runSettingsCommand(std::vector<std::string>(argv + 2, argv + argc));
        if (command == "plist")
            return runPlistCommand(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::exception& exception) {
        return error(exception.what());
    }
    return usage();
}
