// Tabulon with every file digested at its turn on one thread: bench/run.sh measures it next to
// Tabulon.exe, which also digests files ahead on other threads.
#include "app/run.h"

int main() { return RunTabulon({.digestWorkers = 0}); }
