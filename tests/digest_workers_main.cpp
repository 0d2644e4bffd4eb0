// The shipped code with two threads digesting ahead whatever the machine, so that the
// list-writing test checks the order of their results on a single core too.
#include "app/run.h"

int main() { return RunTabulon({.digesting = {.workers = 2}}); }
