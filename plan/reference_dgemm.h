// The reference row: a system BLAS dgemm (OpenBLAS, or BLIS) on the matrices
// of the Classic method, timed by the same run as a method. The library is
// loaded only when a reference row asks for it, so that vorp-cli neither
// needs it nor has its thread pool running beside the methods otherwise.
#pragma once

#include <string>
#include <vector>

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
// library: validation, normalisation, allocation rule, preparation, timing,
// check, report lines and result are those of the Classic method's run (its
// parameters name method 0), with the line "reference: <form>" after the
// product. Without the library the run is refused with a notice, and its
// parameters are `params` as given.
RunResult RunReferenceDgemm(RunParameters params, ReportSink& sink,
                            ReferenceLibrary library = ReferenceLibrary::OpenBlas);

// OpenBLAS reads OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE when it loads: set,
// they force its kernel choice (a machine may set them because OpenBLAS's
// own choice misbehaves there). These are the ones the environment holds,
// as NAME=VALUE.
std::vector<std::string> OpenBlasForcingVariables();
// Drops them from the environment, so that OpenBLAS, not yet loaded, picks
// its kernel itself; returns what was dropped.
std::vector<std::string> LetOpenBlasChoose();
// The core OpenBLAS picks on its own here, asked of this program started
// anew without those variables (the process itself has its copy loaded with
// them); empty when it cannot be told.
std::string OpenBlasOwnChoice();
// In a process started to answer OpenBlasOwnChoice: prints the core and
// returns true; false in any other process.
bool AnswerOpenBlasOwnChoice();
