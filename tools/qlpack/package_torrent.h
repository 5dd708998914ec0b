#pragma once
#include <cstdint>
#include <string>

// The torrents a package carries, one per file.

// Checks that bytes are a single-file torrent for a file of size bytes: a
// bencoded dictionary whose "info" has "length" equal to size, a positive
// "piece length" and one 20-byte SHA-1 per piece. Empty when it is one,
// else what is wrong.
std::string CheckPackageTorrent(const std::string &bytes, uint64_t size);

// Makes the torrent of a file with mktorrent (the program path given, or
// "mktorrent" on PATH) into outPath: the torrent's name is the file's
// package name, no creation date, so the same input gives the same bytes.
// Empty on success, else what went wrong.
std::string MakePackageTorrent(const std::string &mktorrent, const std::string &filePath, const std::string &name,
                               const std::string &announce, int pieceLengthExponent, const std::string &outPath);
