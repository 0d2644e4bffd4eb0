#pragma once

// One run of the tool: the two file lists, then the encoded configuration files, the closing
// text and the keystroke wait. Returns the exit status: 0 when everything succeeded, 1 when
// anything failed. The lists are written when the scan needs them on disk and when it ends;
// `writeAfterEveryFile` writes them after every file instead, which gives the same files.
int RunTabulon(bool writeAfterEveryFile = false);
