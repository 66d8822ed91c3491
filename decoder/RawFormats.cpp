#include "RawFormats.h"

#include <algorithm>

#include "FileSystem.h"

const std::vector<std::string> &RawExtensions() {
    // Canon, Nikon, Sony, DNG, Fujifilm, Olympus, Panasonic, Pentax, Samsung, Hasselblad,
    // Epson, Kodak, Minolta, Leica, Phase One and Sigma.
    static const std::vector<std::string> extensions = {
        ".CR2", ".CR3", ".CRW", ".NEF", ".NRW", ".ARW", ".SR2", ".SRF", ".DNG", ".RAF", ".ORF",
        ".RW2", ".PEF", ".SRW", ".3FR", ".ERF", ".KDC", ".MRW", ".RWL", ".IIQ", ".X3F"};
    return extensions;
}

bool IsRawFileName(const std::string &name) {
    // The whole extension counts, as the folder search's "*.CR2" always had it: photo.CR2X is
    // no RAW file.
    const std::string file = ExtractFileName(name);
    const auto dot = file.find_last_of('.');
    if (dot == std::string::npos)
        return false;
    std::string key = file.substr(dot);
    for (char &c : key)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    const auto &list = RawExtensions();
    return std::find(list.begin(), list.end(), key) != list.end();
}
