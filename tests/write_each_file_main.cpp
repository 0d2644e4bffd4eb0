// The tool doing its work the plain way: both lists written after every file, every file
// digested at its turn on one thread. The list-writing test compares its files and console bytes
// with those of the shipped code.
#include "app/run.h"

int main() { return RunTabulon({.writeAfterEveryFile = true, .digesting = {.workers = 0}}); }
