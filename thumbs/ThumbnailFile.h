// Where a RAW file's thumbnail file goes, and how it is written.
#pragma once

#include <string>

#include "Graphics.h"

// text with every occurrence of part removed, case-sensitively, until none is left.
std::string RemoveAll(const std::string &part, const std::string &text);

// The thumbnail file of a RAW file: folder + prefix + the RAW file's name + ".JPG"
// (IMG_0001.CR2 -> IMG_0001.CR2.JPG), with one "/" between folder and name.
std::string ThumbnailPath(const std::string &folder, const std::string &prefix,
                          const std::string &rawFile);

// Makes the thumbnail of source as dest without ever leaving a half-written dest: the picture
// goes to a temporary file beside dest, written only through the descriptor that created it and
// renamed over dest only when complete and still ours. An existing dest that is not empty and
// lacks our JPEG comment is someone's own picture: it is left as it is and Exception ""dest"
// exists and was not made by Pixavant; left as it is" is raised; anything that is not a regular
// file (a folder, pipe, device or link) is left alike, with ""dest" exists and is not a regular
// file; left as it is". A folder that every user may change and that lacks the sticky bit is
// refused, as is a temporary file swapped by someone else before the rename. Otherwise raises
// as MakeThumbnailFile, naming dest (a failure keeps the previous dest). sourceIdentity, when
// given, is recorded in the thumbnail (see MakeThumbnail).
// The temporary file's name: this prefix, the writing process's id, '-', eight hex digits and
// ".tmp".
inline constexpr char TempThumbnailPrefix[] = ".pixavant-";

// Removes from folder the temporary thumbnail files of processes that no longer run: a run
// killed while it wrote leaves them behind. Regular files of exactly that name only.
void RemoveStaleThumbnailTemps(const std::string &folder);

void WriteThumbnailFile(const std::string &source, const std::string &dest, int width, int height,
                        TColor fillColor, const std::string &sourceIdentity = {});
