// What a file holds, judged by its first bytes rather than its name.
#pragma once

#include <cstddef>
#include <string>
#include <sys/stat.h>

enum class TPictureKind { None, Jpeg, Png, Gif, Bmp, Tiff, Wmf };

// The kind the first n bytes of a file announce.
TPictureKind Sniff(const unsigned char *b, std::size_t n);

// The kind of an open file, from its first bytes (read with pread; the offset stays).
TPictureKind SniffFile(int fd);

// Qt's reader format for a kind it reads ("" for None and Wmf).
const char *QtFormat(TPictureKind kind);

// Opens a regular file for reading and fills st; -1 for anything else (a named pipe called
// photo.jpg, a device, a folder), refused after stat, before it could be opened and block.
// Without followLinks a symbolic link is refused too.
int OpenRegular(const std::string &path, struct stat &st, bool followLinks = true);
