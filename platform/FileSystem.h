// File-system services: the directory search with an attribute mask, folder chains, paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint32_t faReadOnly = 0x01;
constexpr std::uint32_t faHidden = 0x02;
constexpr std::uint32_t faArchive = 0x20;

struct TSearchRec {
    std::string Name; // the file name as the file system has it (any bytes)
    std::int64_t Size = 0;
    std::uint32_t Attr = 0;
};

// Searches "folder/pattern" (pattern: * and ? wildcards, matched without regard to case, so
// "*.CR2" finds photo.cr2; "*.*" matches every name). Only regular files are found: folders,
// devices, sockets and pipes never are; hidden (dot) files only when faHidden is in the mask.
// Names come sorted as a Windows file system's index keeps them: by their ASCII-upper-cased
// bytes, ties by the raw bytes, so every walk of a folder sees one stable order. The folder is
// read whole by FindFirst. A folder that cannot be read finds nothing.
class TFileSearch {
public:
    TFileSearch() = default;
    ~TFileSearch() { FindClose(); }
    TFileSearch(const TFileSearch &) = delete;
    TFileSearch &operator=(const TFileSearch &) = delete;

    // True when a first file was found (then Current() holds it).
    bool FindFirst(const std::string &pathPattern, std::uint32_t attrMask);
    bool FindNext();
    void FindClose();
    const TSearchRec &Current() const { return FCurrent; }

private:
    std::vector<TSearchRec> FFound;
    std::size_t FNext = 0;
    TSearchRec FCurrent;
};

// The search order: a before b when a's ASCII-upper-cased bytes sort first, ties by raw bytes.
bool SearchOrderLess(const std::string &a, const std::string &b);

// Matches a name against a Windows-style wildcard pattern, ignoring ASCII case.
bool MatchesMask(const std::string &name, const std::string &pattern);

// "dir/name" without doubling the separator of the root "/".
std::string IncludeTrailingPathDelimiter(const std::string &path);
std::string ExtractFileName(const std::string &path);
std::string ExtractFilePath(const std::string &path); // with the trailing "/"
std::string ExtractFileDir(const std::string &path);  // without it (but "/" stays "/")
// The extension test of the listing: from the last dot of the name, upper-cased, cut to four.
std::string ExtensionKey(const std::string &name);
