// A stand-in for libTavrel_8x4.so.1 with every export of Tavrel_8x4.h but
// tavrel_AVX_8x4x16_Packed (method 4's kernel), for the test that a program bound at load refuses
// to start without it. Nothing here is ever called.
#include "Tavrel_8x4.h"

int TAVREL_AVX_8X4_Init(int, int, int, int) { return 0; }
void TAVREL_AVX_8X4_Free() {}
long long TAVREL_AVX_8X4_KeptBytes() { return 0; }
void TAVREL_AVX_8X4_Release() {}
double** TAVREL_AVX_8X4_GET_AA() { return nullptr; }
double** TAVREL_AVX_8X4_GET_BB() { return nullptr; }
double* TAVREL_AVX_8X4_GET_CC() { return nullptr; }
int TAVREL_AVX_8X4_CompCwithCC(double*, int, int) { return 0; }
int isAVXenable() { return 0; }
void pusto() {}
void Pack_BBTRANSP_AMD(int, int, int, int, double*) {}
void Pack_BBTRANSP_Into(int, int, int, double*, double*) {}
void Pack_AA_AMD(int, int, double*, int, double*) {}
void Pack_BB_AMD(int, int, int, int, double*) {}
void Pack_BB(int, int, double*, double*) {}
void tavrel_AVX_8x4x16_AMD(int, int, int, double, double*, int, double*, int, double, double*, int,
                           double*, double*) {}
int TAVREL_AVX_8X4_FormBits() { return 256; }
int TAVREL_AVX_8X4_LimitFormBits(int) { return 256; }
void tavrel_AVX_8x4x16_AMD(int, int, int, double, double*, int, double*, int, double, double*,
                           int) {}
void tavrel_AVX_8x4_K1(int, int, int, double*, double*, double*, double*, double*) {}
void tavrel_AVX_8x4x32_AMD(int, int, int, double, double*, int, double*, int, double, double*, int,
                           double*, double*) {}
