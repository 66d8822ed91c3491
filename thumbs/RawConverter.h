// Turns a folder's RAW files into their NAME.EXT.JPG thumbnail files.
#pragma once

#include <string>

// True when thumb is a non-empty regular file carrying our JPEG comment whose modification
// time is not older than raw's: converting raw again would write the same bytes.
bool ThumbnailIsCurrent(const std::string &raw, const std::string &thumb);
