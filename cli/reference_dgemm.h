// The reference row: a system BLAS dgemm (OpenBLAS, or BLIS) on the matrices
// of the Classic method, timed by the same run as a method. The library is
// loaded only when a reference row asks for it, so that vorp-cli neither
// needs it nor has its thread pool running beside the methods otherwise.
#pragma once

#include <string>

#include "benchmark_run.h"

enum class ReferenceLibrary { OpenBlas, Blis };

// "openblas" or "blis": the method name of the reference row.
const char* ReferenceName(ReferenceLibrary library);

// Whether the library (libopenblas.so.0, libblis.so.4) can be loaded; loads
// it on the first call. BLIS is set up, unless BLIS_ARCH_TYPE says
// otherwise, for the widest configuration this processor runs (skx with
// AVX-512, haswell with AVX2 and FMA), since the generic build may not
// recognise a newer processor.
bool ReferenceDgemmAvailable(ReferenceLibrary library = ReferenceLibrary::OpenBlas);

// "OpenBLAS dgemm (Haswell)", "BLIS dgemm (skx)": the library and the kernel
// configuration it runs, or an empty text when it cannot be loaded.
std::string ReferenceKernelForm(ReferenceLibrary library = ReferenceLibrary::OpenBlas);
// The library's version and build configuration, or an empty text.
std::string ReferenceLibraryConfig(ReferenceLibrary library = ReferenceLibrary::OpenBlas);

// One run whose product is cblas_dgemm with `threads` threads of the
// library: validation, normalisation (written back on completion),
// allocation rule, preparation, timing, check and report lines are those of
// the Classic method's run, with the line "reference: <form>" after the
// product. Without the library the run is refused with a notice.
RunResult RunReferenceDgemm(RunParameters& params, ReportSink& sink,
                            ReferenceLibrary library = ReferenceLibrary::OpenBlas);
