// The per-user temporary folder of the preview files: $XDG_RUNTIME_DIR/pixavant when that
// variable is set, else /tmp/pixavant-<uid>; mode 0700, refused when it is a symbolic link or
// belongs to someone else (another user could otherwise plant or read our previews).
#pragma once

#include <string>

// Creates the folder when missing and checks it. Raises Exception with a clear message when it
// cannot be used.
std::string PixavantTempFolder();

enum class TempPreview {
    Scan,  // <folder>/tmp/thumb.<pid>.<worker>.tmp.jpg, written by the folder scan's RAW pass
    Viewer // <folder>/thumb.<pid>.<worker>.tmp.jpg, written when the viewer opens a RAW file
};

// The preview file's path for one worker of this process: two instances, or two workers of one,
// never share a preview file. Makes sure of its folders (raises like PixavantTempFolder).
std::string TempPreviewPath(TempPreview which, int worker = 0);

// Removes the preview files of processes that no longer run (a crash or a kill leaves them
// behind, in a folder that may live in memory). Files of running processes and any other file
// are left alone. Never raises.
void RemoveStaleTempPreviews();
