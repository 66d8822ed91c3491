// The shooting information of a picture: camera, lens, exposure, date, size and marks, as a
// photographer checks them while culling.
#pragma once

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
// exiv2 has not for a RAW file. Never raises: what cannot be read stays empty. Blocks for as
// long as the file takes to parse, so callers run it off the GUI thread.
ShootingInfo ReadShootingInfo(const std::string &path);

// Caption and value of every known field, in the order the panels show them.
std::vector<std::pair<std::string, std::string>> ShootingInfoFields(const ShootingInfo &info);

// All known fields on one line, for a status panel.
std::string ShootingInfoLine(const ShootingInfo &info);
