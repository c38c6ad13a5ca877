// The kestrel command: lay out simulated devices, run scenarios against them,
// look at the settings pane, and read property lists.
#include "host/device/DeviceHold.h"
#include "host/device/DeviceLayout.h"
#include "host/device/PackageManager.h"
#include "host/device/Words.h"
#include "tools/kestrel/Demo.h"
#include "tools/kestrel/PlistCommand.h"
#include "tools/kestrel/SettingsCommand.h"
#include "tools/kestrel/scenario/LineReader.h"
#include "tools/kestrel/scenario/ScenarioRun.h"
#include "tools/kestrel/serve/ServeCommand.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace {

// Each command's form and what it does, as `kestrel --help` lists them.
struct CommandHelp {
    const char* name;
    const char* form;
    const char* what;
};
constexpr CommandHelp commands[] = {
    { "demo", "demo [--keep DIR]", "make a fresh device, run the built-in tour, print its timeline" },
    { "init", "init DIR [--companion | --stock] [--rootless]",
        "lay out a device at DIR with Kestrel installed (--stock: the base system alone; --rootless: a rootless "
        "jailbreak's device, its packages under /var/jb); on an existing device, bring its base system up to date "
        "and keep every package" },
    { "install", "install DIR FILE.deb", "install or upgrade a package on the device with dpkg" },
    { "remove", "remove DIR [--purge]", "remove Kestrel from the device (--purge: its settings too)" },
    { "run", "run DIR SCENARIO [--real-time]", "run a scenario file against the device; exit 1 if a line failed" },
    { "boot", "boot DIR [--real-time]", "boot the device and read scenario commands from standard input" },
    { "serve", "serve DIR [--port N] [--virtual-time] [--compare]",
        "boot the device and serve its simulator page (--compare: a stock device beside it)" },
    { "settings", "settings DIR list | set KEY VALUE | tap ACTION | render OUT.png",
        "the settings pane: its rows and values, a change as a tap makes it, a button, its image" },
    { "plist", "plist print FILE", "show a property list (XML or binary) in a readable form" },
};

constexpr const CommandHelp* commandNamed(std::string_view name)
{
    for (auto& command : commands) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

// A subcommand the code names, found in the table when the program is compiled: a name
// that is not there does not compile.
struct Subcommand {
    consteval Subcommand(const char* name)
        : help(commandNamed(name))
    {
        if (!help)
            throw "no subcommand of that name";
    }
    const CommandHelp* help;
};

void printUsage(std::FILE* stream)
{
    std::fputs("usage: kestrel COMMAND ...  (kestrel COMMAND --help, kestrel --version)\n", stream);
    for (auto& command : commands)
        std::fprintf(stream, "  kestrel %s\n      %s\n", command.form, command.what);
}

int usage()
{
    printUsage(stderr);
    return 2;
}

// A command given wrongly: its own form, in one line.
int usage(Subcommand command)
{
    std::fprintf(stderr, "usage: kestrel %s\n", command.help->form);
    return 2;
}

// `kestrel COMMAND --help`: the command's form and what it does, on standard output.
int commandHelp(const CommandHelp& command)
{
    std::printf("usage: kestrel %s\n  %s\n", command.form, command.what);
    return 0;
}

int unknownOption(Subcommand command, const std::string& option)
{
    std::fprintf(stderr, "kestrel %s: no option %s\n", command.help->name, Device::printable(option).c_str());
    return 2;
}

int error(const std::string& message)
{
    std::fprintf(stderr, "kestrel: %s\n", Device::printable(message).c_str());
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

// Nullopt when the command has its number of words and takes every option given; otherwise
// the exit status, after one line saying what is wrong.
std::optional<int> misuse(
    Subcommand command, const Arguments& arguments, size_t words, std::initializer_list<std::string_view> options = {})
{
    for (auto& flag : arguments.flags) {
        if (std::find(options.begin(), options.end(), flag) == options.end())
            return unknownOption(command, flag);
    }
    if (arguments.positional.size() != words)
        return usage(command);
    return std::nullopt;
}

std::optional<std::string> absolutePath(const std::string& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return std::nullopt;
    return std::string(resolved);
}

// The device at DIR (its real path), or why not.
Platform::Expected<std::string> deviceAt(const std::string& directory)
{
    auto root = absolutePath(directory);
    if (!root || !Device::isDevice(*root))
        return Platform::Failure { directory + " is not a device (make one with: kestrel init " + directory + ")" };
    return *root;
}

int init(const Arguments& arguments)
{
    if (auto status = misuse("init", arguments, 1, { "--companion", "--stock", "--rootless" }))
        return *status;
    const auto& directory = arguments.positional[0];
    Device::InitOptions options;
    options.companion = arguments.has("--companion");
    options.stock = arguments.has("--stock");
    if (arguments.has("--rootless"))
        options.scheme = Device::Scheme::rootless;
    if (options.companion && options.stock)
        return error("--stock lays out the base system alone; it does not go with --companion");
    auto laid = Device::initDevice(directory, options, Device::Artifacts::nextToExecutable());
    if (!laid)
        return error(laid.error());
    std::printf("%s\n", laid->c_str());
    return 0;
}

// What dpkg did, or why it did nothing, in one line.
int report(const Platform::Expected<Device::PackageChange>& change)
{
    if (!change)
        return error(change.error());
    std::printf("%s\n", change->message.c_str());
    return 0;
}

int installPackage(const Arguments& arguments)
{
    if (auto status = misuse("install", arguments, 2))
        return *status;
    auto root = deviceAt(arguments.positional[0]);
    if (!root)
        return error(root.error());
    return report(Device::PackageManager(*root).install(arguments.positional[1]));
}

int removeKestrel(const Arguments& arguments)
{
    if (auto status = misuse("remove", arguments, 1, { "--purge" }))
        return *status;
    auto root = deviceAt(arguments.positional[0]);
    if (!root)
        return error(root.error());
    return report(Device::PackageManager(*root).remove(Device::PackageNames::kestrel, arguments.has("--purge")));
}

int run(const Arguments& arguments)
{
    if (auto status = misuse("run", arguments, 2, { "--real-time" }))
        return *status;
    auto root = deviceAt(arguments.positional[0]);
    if (!root)
        return error(root.error());
    const auto& file = arguments.positional[1];
    // Opened without waiting for a writer, so a FIFO is refused rather than waited on.
    int descriptor = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return error(file + ": cannot read the scenario: " + std::strerror(errno));
    struct stat info;
    struct statfs filesystem;
    bool regular = ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && ::fstatfs(descriptor, &filesystem) == 0
        && filesystem.f_type != PROC_SUPER_MAGIC && filesystem.f_type != SYSFS_MAGIC;
    if (!regular) {
        ::close(descriptor);
        return error(file + ": not a regular file");
    }
    ::fcntl(descriptor, F_SETFL, 0);
    auto scenario = Kestrel::readScenario(descriptor);
    ::close(descriptor);
    if (!scenario)
        return error(file + ":" + scenario.error());
    // A profile the device's jailbreak does not run is refused before anything runs.
    for (auto& line : scenario->lines) {
        if (auto admitted = Kestrel::DeviceSession::admits(*root, line.command); !admitted)
            return error(file + ":" + std::to_string(line.number) + ": " + admitted.error());
    }

    auto opened = Kestrel::DeviceSession::open(*root, { arguments.has("--real-time") });
    if (!opened)
        return error(opened.error());
    auto& session = *opened;
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
    if (auto status = misuse("boot", arguments, 1, { "--real-time" }))
        return *status;
    auto root = deviceAt(arguments.positional[0]);
    if (!root)
        return error(root.error());
    auto opened = Kestrel::DeviceSession::open(*root, { arguments.has("--real-time") });
    if (!opened)
        return error(opened.error());
    auto& session = *opened;
    Kestrel::ScenarioRun run(*session);
    if (!run.runLine({ 0, Kestrel::Boot {} }))
        return 1;
    Kestrel::ScenarioPhase phase { true };
    Kestrel::LineReader reader(STDIN_FILENO, Kestrel::maximumLineLength);
    std::string line;
    bool malformed = false;
    for (int number = 1;; ++number) {
        auto status = reader.next(line);
        if (status == Kestrel::LineReader::Status::End || status == Kestrel::LineReader::Status::Error)
            break;
        auto parsed = status == Kestrel::LineReader::Status::TooLong ? Kestrel::ParsedLine(Platform::Failure {
                          "a line longer than " + std::to_string(Kestrel::maximumLineLength) + " bytes" })
                                                                     : Kestrel::parseCommand(line, phase);
        if (!parsed) {
            std::fprintf(stderr, "kestrel: stdin:%d: %s\n", number, Device::printable(parsed.error()).c_str());
            malformed = true;
        } else if (*parsed)
            run.runLine({ number, std::move(**parsed) });
    }
    session->shutdown();
    // As `run` answers: 2 for a line refused as malformed, 1 for one that failed.
    return malformed ? 2 : run.failures() ? 1 : 0;
}

int serve(const std::vector<std::string>& words)
{
    Kestrel::ServeOptions options;
    std::vector<std::string> positional;
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--virtual-time")
            options.realTime = false;
        else if (words[i] == "--compare")
            options.compare = true;
        else if (words[i] == "--port" || words[i].starts_with("--port=")) {
            std::string value = words[i] == "--port" ? (i + 1 < words.size() ? words[++i] : "") : words[i].substr(7);
            auto port = Device::parseInteger(value);
            if (!port || *port < 0 || *port > 65535)
                return error("--port takes a port number from 0 to 65535 (0: any free port), not "
                    + (value.empty() ? "nothing" : value));
            options.port = int(*port);
        } else if (words[i].starts_with("--"))
            return unknownOption("serve", words[i]);
        else
            positional.push_back(words[i]);
    }
    if (positional.size() != 1)
        return usage("serve");
    auto root = deviceAt(positional[0]);
    if (!root)
        return error(root.error());
    return Kestrel::serveDevice(*root, options);
}

// Each subcommand's handler, in the order of the help table; argv[2] on are its words.
struct Handler {
    std::string_view name;
    int (*run)(int argc, char** argv);
};
std::vector<std::string> wordsOf(int argc, char** argv) { return std::vector<std::string>(argv + 2, argv + argc); }
constexpr Handler handlers[] = {
    { "demo", [](int argc, char** argv) { return Kestrel::runDemo(wordsOf(argc, argv)); } },
    { "init", [](int argc, char** argv) { return init(splitArguments(argc, argv, 2)); } },
    { "install", [](int argc, char** argv) { return installPackage(splitArguments(argc, argv, 2)); } },
    { "remove", [](int argc, char** argv) { return removeKestrel(splitArguments(argc, argv, 2)); } },
    { "run", [](int argc, char** argv) { return run(splitArguments(argc, argv, 2)); } },
    { "boot", [](int argc, char** argv) { return boot(splitArguments(argc, argv, 2)); } },
    { "serve", [](int argc, char** argv) { return serve(wordsOf(argc, argv)); } },
    { "settings", [](int argc, char** argv) { return Kestrel::runSettingsCommand(wordsOf(argc, argv)); } },
    { "plist", [](int argc, char** argv) { return runPlistCommand(wordsOf(argc, argv)); } },
};

constexpr bool everySubcommandHasItsHandler()
{
    if (std::size(handlers) != std::size(commands))
        return false;
    for (size_t i = 0; i < std::size(handlers); ++i) {
        if (handlers[i].name != commands[i].name)
            return false;
    }
    return true;
}
static_assert(everySubcommandHasItsHandler(), "each subcommand of the help has a handler, in the same order");

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2)
        return usage();
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        if (command == "help" && argc == 3 && commandNamed(argv[2]))
            return commandHelp(*commandNamed(argv[2]));
        printUsage(stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("kestrel " KESTREL_VERSION "\n");
        return 0;
    }
    auto* known = commandNamed(command);
    if (!known) {
        std::fprintf(stderr, "kestrel: no command %s\n", Device::printable(command).c_str());
        return usage();
    }
    for (int i = 2; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h")
            return commandHelp(*known);
    }
    try {
        return handlers[known - commands].run(argc, argv);
    } catch (const std::exception& exception) {
        return error(exception.what());
    }
}
