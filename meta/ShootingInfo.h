// The shooting information of a picture: camera, lens, exposure, date, size and marks, as a
// photographer checks them while culling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Marks.h"

struct ShootingInfo {
    // Each as exiv2 prints it ("1/200 s", "F5.6", "95.0 mm", "+1/3 EV"); empty when unknown.
    std::string Camera;
    std::string Lens;
    std::string ExposureTime;
    std::string FNumber;
    std::string Iso;
    std::string FocalLength;
    std::string ExposureBias;
    std::string DateTaken; // "2006:08:02 21:53:01"
    int Width = 0;         // pixels; 0 when unknown
    int Height = 0;
    long long FileSize = -1; // bytes; -1 when the file cannot be looked at
    TMarks Marks;
};

// Reads path with exiv2 (JPEG, TIFF and every RAW format it knows), LibRaw filling in what
// exiv2 has not for a RAW file, both in the sandboxed decoding helper; the marks come from the
// sidecar. Never raises: what cannot be read stays empty. Blocks for as long as the file takes
// to parse, so callers run it off the GUI thread.
ShootingInfo ReadShootingInfo(const std::string &path);

// The helper's half: the fields that the picture's bytes give (not its file size or marks),
// read from memory; name is the file's name, for its kind. Lines of key, tab and value.
std::string ReadShootingInfoText(const std::uint8_t *data, std::size_t size,
                                 const std::string &name);

// Caption and value of every known field, in the order the panels show them.
std::vector<std::pair<std::string, std::string>> ShootingInfoFields(const ShootingInfo &info);

// All known fields on one line, for a status panel.
std::string ShootingInfoLine(const ShootingInfo &info);
