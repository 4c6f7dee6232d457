# The reference BLAS of the tests and benchmarks: OpenBLAS through
# pkg-config, as the imported target PkgConfig::OPENBLAS (found once).
if(NOT TARGET PkgConfig::OPENBLAS)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(OPENBLAS REQUIRED IMPORTED_TARGET GLOBAL openblas)
endif()
