// The MD5 digest of a whole file and the hexadecimal text of a digest.
//
// Threads: both functions may run on several threads at once; they keep no state between calls.
#pragma once

#include <string>

#include "digest/md5.h"

// Computes the MD5 digest of every byte of the file at `path` (ANSI code page), reading it once
// from front to back in constant memory. Returns 1 with the digest in `digest` when the file
// was read to its end. Returns 0, with `digest` untouched, when the file cannot be opened (it
// does not exist, is a folder, may not be read) or a read fails partway. Prints nothing.
int DigestFile(const std::string& path, unsigned char digest[kMd5DigestSize]);

// The 32-character lowercase hexadecimal text of the 16 bytes at `digest`, two characters per
// byte in byte order, high nibble first. Formats whatever the bytes hold.
std::string FormatDigestHex(const unsigned char digest[kMd5DigestSize]);
