// Laying out a fresh device with the built `kestrel`: the base system alone (--stock), and the
// base system with the Kestrel package installed through dpkg. Each iteration is one whole
// command, process start and dpkg run included, as a user types it.
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

const std::string kestrelProgram = std::string(KESTREL_BUILD_DIR) + "/bin/kestrel";

void runKestrel(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    std::string program = kestrelProgram;
    argv.push_back(program.data());
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child;
    int spawnError = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError)
        std::abort();
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status))
        std::abort();
}

void initDevice(benchmark::State& state, bool stock)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        std::abort();
    std::string device = pattern + "/device";
    for (auto _ : state) {
        if (stock)
            runKestrel({ "init", device, "--stock" });
        else
            runKestrel({ "init", device });
        state.PauseTiming();
        std::filesystem::remove_all(device);
        state.ResumeTiming();
    }
    std::filesystem::remove_all(pattern);
}

void BM_InitStock(benchmark::State& state) { initDevice(state, true); }
void BM_InitWithPackage(benchmark::State& state) { initDevice(state, false); }

} // namespace

BENCHMARK(BM_InitStock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InitWithPackage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
