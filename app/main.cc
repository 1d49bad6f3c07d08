#include "app/trcforge_main.h"

int main(int argc, char** argv) { return trcforge_main(argc, argv); }
