#include "reference_dgemm.h"

#include <dlfcn.h>

#include "notice.h"

namespace {
// The few OpenBLAS entry points the reference row needs. The CBLAS enum
// values are fixed by the CBLAS interface.
constexpr int kCblasRowMajor = 101;
constexpr int kCblasNoTrans = 111;

struct OpenBlas {
    using Dgemm = void (*)(int, int, int, int, int, int, double, const double*, int,
                           const double*, int, double, double*, int);
    Dgemm dgemm = nullptr;
    void (*set_num_threads)(int) = nullptr;
    char* (*get_corename)() = nullptr;
    char* (*get_config)() = nullptr;
};

template <typename Function>
void Bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
}

// Loaded once, on first use; null members when it is not there.
const OpenBlas& Library() {
    static const OpenBlas library = [] {
        OpenBlas loaded;
        void* handle = dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return loaded;
        Bind(handle, "cblas_dgemm", loaded.dgemm);
        Bind(handle, "openblas_set_num_threads", loaded.set_num_threads);
        Bind(handle, "openblas_get_corename", loaded.get_corename);
        Bind(handle, "openblas_get_config", loaded.get_config);
        if (!loaded.dgemm || !loaded.set_num_threads) loaded = OpenBlas{};
        return loaded;
    }();
    return library;
}

// C = A*B on the Classic method's layout: row by row from index 1.
void MultiplyWithOpenBlas(const RunParameters& p, RunBuffers& buffers, ReportSink& sink) {
    const OpenBlas& blas = Library();
    blas.set_num_threads(p.threads);
    blas.dgemm(kCblasRowMajor, kCblasNoTrans, kCblasNoTrans, p.n, p.n, p.n, 1.0, buffers.a + 1,
               p.n, buffers.b + 1, p.n, 0.0, buffers.c + 1, p.n);
    sink.AppendLine("reference: " + ReferenceKernelForm());
}
}  // namespace

bool ReferenceDgemmAvailable() { return Library().dgemm != nullptr; }

std::string ReferenceKernelForm() {
    if (!ReferenceDgemmAvailable()) return {};
    const char* core = Library().get_corename ? Library().get_corename() : nullptr;
    return std::string("OpenBLAS dgemm (") + (core ? core : "unknown core") + ")";
}

std::string ReferenceLibraryConfig() {
    const char* config = Library().get_config ? Library().get_config() : nullptr;
    return config ? config : "";
}

RunResult RunReferenceDgemm(RunParameters& params, ReportSink& sink) {
    if (!ReferenceDgemmAvailable()) {
        ShowNotice("The system BLAS (OpenBLAS) could not be loaded");
        return RunResult{};
    }
    RunParameters p = params;
    p.method = kMethodClassic;
    RunBuffers buffers;
    const RunResult result = RunBenchmark(p, sink, buffers, MultiplyWithOpenBlas);
    if (result.outcome == RunOutcome::Completed) {
        params.n = p.n;
        params.l_block = p.l_block;
        params.threads = p.threads;
        params.chunk = p.chunk;
    }
    return result;
}
