// The MD5 digest of a whole file and the hexadecimal text of a digest.
//
// Threads: both functions may run on several threads at once; they keep no state between calls.
#pragma once

#include <string>

#include "digest/md5.h"
#include "platform/platform.h"

// Computes the MD5 digest of every byte of the file `name` (ANSI code page) of `folder`, reading
// it once from front to back in constant memory. Returns 1 with the digest in `digest` when the
// file was read to its end. Returns 0, with `digest` untouched, when the file cannot be opened
// (it does not exist, is a folder, may not be read), a read fails partway or the file changes
// while it is read. Prints nothing.
int DigestFile(const platform::Folder& folder, const std::string& name,
               unsigned char digest[kMd5DigestSize]);

// The 32-character lowercase hexadecimal text of the 16 bytes at `digest`, two characters per
// byte in byte order, high nibble first. Formats whatever the bytes hold.
std::string FormatDigestHex(const unsigned char digest[kMd5DigestSize]);
