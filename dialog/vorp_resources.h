// Identifiers, texts and dialog templates of the Vorp program.
#pragma once

#include "dialog_template.h"

// Dialogs and strings.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_VORP_DIALOG = 102;

// Command of the About entry in the window menu.
constexpr int IDM_ABOUTBOX = 0x0010;

// Controls of the main dialog.
constexpr int IDC_N = 1000;
constexpr int IDC_CLASSIC = 1001;  // first of the five method buttons
constexpr int IDC_HP = 1002;
constexpr int IDC_REPORT = 1003;
constexpr int IDC_START = 1004;
constexpr int IDC_RESET = 1005;
constexpr int IDC_BLOCK_CACHE = 1006;
constexpr int IDC_L_BLOCK = 1007;
constexpr int IDC_BLOCK_PACK_2X2 = 1011;
constexpr int IDC_VECTOR_PACK = 1012;
constexpr int IDC_THREADS = 1014;
constexpr int IDC_CHUNK = 1015;
constexpr int IDC_OPENMP = 1016;  // first of the two parallel-kind buttons
constexpr int IDC_TBB = 1017;
constexpr int IDC_CHECK_RESULT = 1018;

inline constexpr const char* kAppName = "Vorp";
inline constexpr const char* kDesktopFileName = "vorp";
inline constexpr const char* kAppIconPrefix = ":/icons/vorp";  // -16.png, -32.png, -48.png
inline constexpr const char* kRegistryKey = "Local AppWizard-Generated Applications";
inline constexpr const char* kAboutMenuText = "&About Vorp...";
inline constexpr const char* kMainCaption = "MATRIX PRODUCT: C = A*B;  PLATFORM x64";
inline constexpr const char* kStopAndQuitQuestion = "A run is in progress. Stop it and quit?";

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutBoxTemplate();
