// vorp: the desktop dialog of the benchmark.
#include "vorp_app.h"

CVorp_App theApp;

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
