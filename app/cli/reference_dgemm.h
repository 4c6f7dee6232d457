// The reference row: the system BLAS dgemm (OpenBLAS) on the matrices of
// the Classic method, timed by the same run as a method. OpenBLAS is loaded
// only when a reference row is asked for, so that vorp-cli neither needs it
// nor has its thread pool running beside the methods otherwise.
#pragma once

#include <string>

#include "benchmark_run.h"

// Whether the system's OpenBLAS (libopenblas.so.0) can be loaded; loads it
// on the first call.
bool ReferenceDgemmAvailable();

// "OpenBLAS dgemm (Haswell)": the library and the core type it chose, or an
// empty text without OpenBLAS.
std::string ReferenceKernelForm();
// The library's build configuration, or an empty text without OpenBLAS.
std::string ReferenceLibraryConfig();

// One run whose product is cblas_dgemm with `threads` OpenBLAS threads:
// validation, normalisation (written back on completion), allocation rule,
// preparation, timing, check and report lines are those of the Classic
// method's run, with the line "reference: <form>" after the product.
// Without OpenBLAS the run is refused with a notice.
RunResult RunReferenceDgemm(RunParameters& params, ReportSink& sink);
