// The camera RAW formats whose previews the decoder library can extract: the one list every
// part of the program asks whether a file is a RAW file.
#pragma once

#include <string>
#include <vector>

// The extensions, dot included and upper-cased: .CR2 .CR3 .CRW .NEF .NRW .ARW .SR2 .SRF .DNG
// .RAF .ORF .RW2 .PEF .SRW .3FR .ERF .KDC .MRW .RWL .IIQ .X3F.
const std::vector<std::string> &RawExtensions();

// True when the file name's extension (from its last dot) is one of RawExtensions(), ignoring
// case: IMG_0001.CR2, dsc_0001.nef and photo.Cr2 are RAW files; NAME.CR2.JPG and a.CR2X are not.
bool IsRawFileName(const std::string &name);
