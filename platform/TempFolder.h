// The per-user temporary folder of the preview files: $XDG_RUNTIME_DIR/pixavant when that
// variable is set, else /tmp/pixavant-<uid>; mode 0700, refused when it is a symbolic link or
// belongs to someone else (another user could otherwise plant or read our previews).
#pragma once

#include <string>

// Creates the folder when missing and checks it. Raises Exception with a clear message when it
// cannot be used.
std::string PixavantTempFolder();

enum class TempPreview {
    Scan,  // <folder>/tmp/thumb.tmp.jpg, written by the folder scan's RAW pass
    Viewer // <folder>/thumb.tmp.jpg, written when the viewer opens a RAW file
};

// The preview file's path; makes sure of its folders (raises like PixavantTempFolder).
std::string TempPreviewPath(TempPreview which);
