#include "reference_dgemm.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "notice.h"
#include "processor_info.h"

namespace {
// The CBLAS enum values are fixed by the CBLAS interface.
constexpr int kCblasRowMajor = 101;
constexpr int kCblasNoTrans = 111;
// BLIS numbers its configurations from 0; a handful is plenty to find one.
constexpr int kBlisArchIds = 64;

// The few entry points the reference row needs; null members when the
// library is not there.
struct Blas {
    using Dgemm = void (*)(int, int, int, int, int, int, double, const double*, int, const double*,
                           int, double, double*, int);
    Dgemm dgemm = nullptr;
    std::function<void(int)> set_threads;
    std::function<std::string()> kernel;  // the core type or configuration
    std::function<std::string()> config;
};

template <typename Function>
Function Bound(void* library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}

std::string Text(const char* text) { return text ? text : ""; }

Blas LoadOpenBlas() {
    Blas blas;
    void* handle = dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return blas;
    auto set_threads = Bound<void (*)(int)>(handle, "openblas_set_num_threads");
    auto corename = Bound<char* (*)()>(handle, "openblas_get_corename");
    auto config = Bound<char* (*)()>(handle, "openblas_get_config");
    blas.dgemm = Bound<Blas::Dgemm>(handle, "cblas_dgemm");
    if (!blas.dgemm || !set_threads) return Blas{};
    blas.set_threads = set_threads;
    blas.kernel = [corename] { return corename ? Text(corename()) : std::string(); };
    blas.config = [config] { return config ? Text(config()) : std::string(); };
    return blas;
}

// Chooses BLIS's configuration before its first call, unless the user did.
void ChooseBlisConfiguration(const char* (*arch_string)(int)) {
    if (std::getenv("BLIS_ARCH_TYPE") != nullptr) return;
    const bool avx512 = TheProcessorInfo().RunsAvx512();
    const char* wanted = avx512 ? "skx" : SupportedIsaLevel() == kIsaAvxFma3 ? "haswell" : nullptr;
    if (wanted == nullptr) return;
    for (int id = 0; id < kBlisArchIds; ++id) {
        const char* name = arch_string(id);
        if (name != nullptr && std::strcmp(name, wanted) == 0) {
            setenv("BLIS_ARCH_TYPE", std::to_string(id).c_str(), 0);
            return;
        }
    }
}

Blas LoadBlis() {
    Blas blas;
    void* handle = dlopen("libblis.so.4", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return blas;
    auto arch_string = Bound<const char* (*)(int)>(handle, "bli_arch_string");
    auto arch_id = Bound<int (*)()>(handle, "bli_arch_query_id");
    auto set_threads = Bound<void (*)(std::int64_t)>(handle, "bli_thread_set_num_threads");
    auto version = Bound<const char* (*)()>(handle, "bli_info_get_version_str");
    auto init = Bound<void (*)()>(handle, "bli_init");
    blas.dgemm = Bound<Blas::Dgemm>(handle, "cblas_dgemm");
    if (!blas.dgemm || !set_threads || !arch_string || !arch_id || !init) return Blas{};
    ChooseBlisConfiguration(arch_string);
    init();  // reads BLIS_ARCH_TYPE; the configuration can be asked for only after it
    blas.set_threads = [set_threads](int threads) { set_threads(threads); };
    blas.kernel = [arch_string, arch_id] { return Text(arch_string(arch_id())); };
    blas.config = [version] {
        const char* arch = std::getenv("BLIS_ARCH_TYPE");
        return "BLIS " + (version ? Text(version()) : std::string("unknown")) +
               ", BLIS_ARCH_TYPE=" + (arch ? arch : "unset");
    };
    return blas;
}

// Loaded once each, on first use.
const Blas& Library(ReferenceLibrary library) {
    if (library == ReferenceLibrary::Blis) {
        static const Blas blis = LoadBlis();
        return blis;
    }
    static const Blas openblas = LoadOpenBlas();
    return openblas;
}

// C = A*B on the Classic method's layout: row by row from index 1. dgemm
// has no way to give up.
ProductOverride Multiply(ReferenceLibrary library) {
    return [library](const RunParameters& p, RunBuffers& buffers, ReportSink& sink) {
        const Blas& blas = Library(library);
        blas.set_threads(p.threads);
        blas.dgemm(kCblasRowMajor, kCblasNoTrans, kCblasNoTrans, p.n, p.n, p.n, 1.0, buffers.a + 1,
                   p.n, buffers.b + 1, p.n, 0.0, buffers.c + 1, p.n);
        sink.AppendLine("reference: " + ReferenceKernelForm(library));
        return true;
    };
}
}  // namespace

const char* ReferenceName(ReferenceLibrary library) {
    return library == ReferenceLibrary::Blis ? "blis" : "openblas";
}

bool ReferenceDgemmAvailable(ReferenceLibrary library) { return Library(library).dgemm != nullptr; }

std::string ReferenceKernelForm(ReferenceLibrary library) {
    if (!ReferenceDgemmAvailable(library)) return {};
    const std::string kernel = Library(library).kernel();
    const char* name = library == ReferenceLibrary::Blis ? "BLIS" : "OpenBLAS";
    return std::string(name) + " dgemm (" + (kernel.empty() ? "unknown core" : kernel) + ")";
}

std::string ReferenceLibraryConfig(ReferenceLibrary library) {
    if (!ReferenceDgemmAvailable(library)) return {};
    return Library(library).config();
}

RunResult RunReferenceDgemm(RunParameters params, ReportSink& sink, ReferenceLibrary library) {
    if (!ReferenceDgemmAvailable(library)) {
        RunResult refused;
        refused.parameters = params;
        refused.notices.push_back(std::string("The system BLAS (") + ReferenceName(library) +
                                  ") could not be loaded");
        ShowNotice(refused.notices.back());
        return refused;
    }
    params.method = kMethodClassic;
    RunBuffers buffers;
    return RunBenchmark(params, sink, buffers, Multiply(library));
}

namespace {
constexpr const char* kOpenBlasForcing[] = {"OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE"};
// Set in the environment of the child that OpenBlasOwnChoice starts.
constexpr const char* kOwnChoiceQuery = "VORP_OPENBLAS_OWN_CHOICE";
// The child loads OpenBLAS and prints one word; it never takes this long.
constexpr int kOwnChoiceTimeoutMs = 10000;
}  // namespace

std::vector<std::string> OpenBlasForcingVariables() {
    std::vector<std::string> set;
    for (const char* name : kOpenBlasForcing) {
        if (const char* value = std::getenv(name)) set.push_back(std::string(name) + "=" + value);
    }
    return set;
}

std::vector<std::string> LetOpenBlasChoose() {
    const std::vector<std::string> dropped = OpenBlasForcingVariables();
    for (const char* name : kOpenBlasForcing) unsetenv(name);
    return dropped;
}

std::string OpenBlasOwnChoice() {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool forcing = false;
        for (const char* name : kOpenBlasForcing)
            forcing = forcing || text.rfind(std::string(name) + "=", 0) == 0;
        if (!forcing) environment.push_back(text);
    }
    environment.push_back(std::string(kOwnChoiceQuery) + "=1");
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);
    char name[] = "vorp-cli";
    char* argv[] = {name, nullptr};

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    const int failed = posix_spawn(&child, "/proc/self/exe", &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string answer;
    if (failed == 0) {
        pollfd readable{out[0], POLLIN, 0};
        char buffer[256];
        while (poll(&readable, 1, kOwnChoiceTimeoutMs) > 0) {
            const ssize_t got = read(out[0], buffer, sizeof buffer);
            if (got <= 0) break;
            answer.append(buffer, static_cast<std::size_t>(got));
            if (answer.size() > 4096) break;
        }
        kill(child, SIGKILL);  // gone already, unless it hung
        waitpid(child, nullptr, 0);
    }
    close(out[0]);
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == ' ')) answer.pop_back();
    return answer.find('\n') == std::string::npos ? answer : std::string();
}

bool AnswerOpenBlasOwnChoice() {
    if (std::getenv(kOwnChoiceQuery) == nullptr) return false;
    unsetenv(kOwnChoiceQuery);
    const Blas& blas = Library(ReferenceLibrary::OpenBlas);
    if (blas.kernel) std::printf("%s\n", blas.kernel().c_str());
    return true;
}
