#include "vorp_resources.h"

#include "dialog_layer.h"
#include "method_table.h"

namespace {
using K = ControlKind;

const char* CaptionOf(std::int32_t method) { return FindMethod(method)->caption; }
}  // namespace

const DialogTemplate& MainDialogTemplate() {
    static const DialogTemplate dialog{
        "MATRIX PRODUCT",
        {341, 294},
        8,
        {
            {IDC_CLASSIC, K::RadioButton, CaptionOf(kMethodClassic), {16, 64, 50, 10}, kGroup},
            {IDC_HP, K::RadioButton, CaptionOf(kMethodHp), {16, 84, 39, 10}},
            {IDC_BLOCK_CACHE, K::RadioButton, CaptionOf(kMethodBlockCache), {16, 104, 158, 10}},
            {IDC_BLOCK_PACK_2X2,
             K::RadioButton,
             CaptionOf(kMethodBlockPack2x2),
             {16, 124, 176, 10}},
            {IDC_VECTOR_PACK, K::RadioButton, CaptionOf(kMethodVectorPack), {16, 144, 302, 10}},
            {IDC_STATIC, K::Static, "n", {12, 16, 32, 8}},
            {IDC_N, K::Edit, "", {56, 13, 40, 14}, kTabStop},
            {IDC_STATIC, K::Static, "l_block", {12, 39, 38, 8}},
            {IDC_L_BLOCK, K::Edit, "", {56, 36, 40, 14}, kTabStop},
            {IDC_STATIC, K::Static, "Number of Threads", {216, 66, 85, 8}},
            {IDC_THREADS, K::Edit, "", {217, 80, 40, 14}, kTabStop},
            {IDC_START, K::PushButton, "Start", {9, 166, 50, 14}, kTabStop},
            {IDC_RESET, K::PushButton, "Reset", {9, 189, 50, 14}, kTabStop},
            {IDCANCEL, K::PushButton, "Cancel", {276, 264, 50, 14}, kTabStop},
            {IDC_REPORT, K::ListBox, "", {10, 208, 178, 76}, kTabStop},
            {IDC_STATIC, K::Static, "Chunk size", {222, 12, 53, 8}, kHidden},
            {IDC_CHUNK, K::Edit, "", {222, 24, 40, 14}, kTabStop | kHidden},
            {IDC_OPENMP, K::RadioButton, "OpenMP", {282, 12, 43, 10}, kGroup | kHidden},
            {IDC_TBB, K::RadioButton, "TBB", {282, 27, 30, 10}, kHidden},
            {IDC_CHECK_RESULT, K::CheckBox, "Check result", {106, 65, 53, 10}, kTabStop},
        },
        {200, 210, 126, 22},
    };
    return dialog;
}

const DialogTemplate& AboutBoxTemplate() {
    static const DialogTemplate dialog{
        "About Vorp",
        {235, 55},
        8,
        {
            {IDC_STATIC, K::Icon, ":/icons/vorp-32.png", {11, 17, 20, 20}},
            {IDC_STATIC, K::Static, "Vorp Version 1.0", {40, 10, 119, 8}},
            {IDOK, K::PushButton, "OK", {178, 7, 50, 14}, kGroup | kTabStop | kDefaultButton},
        },
        {},
    };
    return dialog;
}
