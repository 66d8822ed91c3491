// Ratings, rejects and colour labels as other photo programs read them: XMP (xmp:Rating, -1
// for a reject; xmp:Label) in sidecar files beside the pictures, never inside a picture.
#pragma once

#include <string>

struct TMarks {
    int Rating = 0;    // 0 to 5 stars; -1 rejected
    std::string Label; // "Red", "Yellow", "Green", "Blue", another program's word, or ""
    bool operator==(const TMarks &) const = default;
};

// The sidecar that takes a picture's marks: NAME.xmp for a RAW file (as Lightroom, Bridge and
// Capture One name it), NAME.EXT.xmp for any other picture (as darktable and digiKam do).
std::string SidecarFor(const std::string &picture);

// A picture's marks: the XMP inside a JPEG or TIFF file, then the other program's sidecar
// name, then SidecarFor(picture); each later one wins for the properties it holds. A file that
// is missing, unreadable or not XMP adds nothing.
TMarks ReadMarks(const std::string &picture);

// What a key does to marks: '0'-'5' set the stars, 'X' rejects, '6' '7' '8' '9' set the label
// Red, Yellow, Green, Blue or clear it when it is already that one. False for any other key.
bool ApplyMarkKey(TMarks &marks, char key);

// Writes marks into SidecarFor(picture), merged with every other property the sidecar holds.
// The new sidecar replaces the old one in one rename and keeps its permissions. Raises
// Exception with a message naming the file and the reason when it cannot; then nothing on the
// disk has changed.
void WriteMarks(const std::string &picture, const TMarks &marks);

// The marks as the grid and the viewer's caption show them: "★★★", "Rejected", "★★ Red".
std::string MarksText(const TMarks &marks);
