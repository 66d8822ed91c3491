// The freedesktop shared thumbnail cache: where entries live, and reading and writing them.
#pragma once

#include <QImage>

#include <ctime>
#include <string>

constexpr int NormalCacheSize = 128;
constexpr int LargeCacheSize = 256;

// The cache folder ($XDG_CACHE_HOME/thumbnails, else ~/.cache/thumbnails); empty when neither
// gives an absolute path.
std::string ThumbnailCacheRoot();

// The freedesktop cache file that holds (or would hold) path's thumbnail of the given size
// class ("normal" 128, "large" 256), and its failure entry.
std::string ThumbnailCachePath(const std::string &path, bool large);
std::string ThumbnailFailPath(const std::string &path);
// The file URI of a path as the cache names it (bytes percent-encoded, never re-encoded).
std::string ThumbnailUri(const std::string &path);

// Reads the entry when it belongs to this very version of the file (its URI and mtime tags).
bool ReadThumbnailEntry(const std::string &entryPath, const std::string &uri, time_t mtime,
                        QImage &image);

// Writes the entry under a temporary name (0600) and renames it into place, so readers never
// see half a file. Creates the folders below the root with mode 0700.
void WriteThumbnailEntry(const std::string &target, QImage image, const std::string &uri,
                         time_t mtime);

// Failure entries: a file no decoder could read, marked so that later visits do not try it
// again until it changes or the decoders do (see DecoderStamp).
void WriteFailureEntry(const std::string &path, const std::string &uri, time_t mtime);
bool HasFailureEntry(const std::string &path, const std::string &uri, time_t mtime);
void RemoveFailureEntry(const std::string &path);
