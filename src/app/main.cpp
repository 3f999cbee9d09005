#include "app/jovver3.h"

int main(int argc, char** argv) { return RunViewer(argc, argv); }
