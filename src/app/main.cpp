#include "app/run.h"

// Arguments and the environment are ignored: everything the tool touches lies in its own folder.
int main() { return RunTabulon(); }
