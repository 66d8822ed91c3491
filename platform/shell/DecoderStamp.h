// What this process can decode, as a short stamp: it changes when a decoder module, an image
// plugin or a font is installed or removed. A failure recorded under one stamp is worth trying
// again under another, since a file that no decoder could read may be readable now.
#pragma once

#include <string>
#include <vector>

// The stamp of this process's decoders, computed on first use (safe from any thread).
const std::string &DecoderStamp();

// The stamp of the given folders: each folder's modification time, and that of every folder
// below it, a few levels deep. Installing or removing a file changes its folder's time.
std::string FolderStamp(const std::vector<std::string> &roots);
