// Thumbnail extractors for picture files: the IExtractImage the folders hand out.
#pragma once

#include <string>

#include "ShellApi.h"

// Gives an IExtractImage for a file whose content is a picture we can read; E_NOINTERFACE
// (or E_FAIL) otherwise.
HRESULT CreateExtractImage(const std::string &path, void **out);
