#include "HostileWmf.h"

#include <algorithm>

namespace hostile {

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes &b, unsigned v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}

void Put32(Bytes &b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// COLORREF of rectangle i: red for even, blue for odd (0x00BBGGRR).
std::uint32_t Colour(int i) {
    return i % 2 ? 0x00FF0000u : 0x000000FFu;
}

// A placeable metafile of width x height pixels around the records in body, which use at
// most one object at a time; the largest record is 7 words unless told.
Bytes Metafile(int width, int height, const Bytes &body, std::uint32_t largest = 7) {
    Bytes file;
    // Placeable header: key, handle, frame (0, 0, width, height), 72 units per inch (one pixel
    // each at the usual 72 dots per inch), reserved, checksum of the ten words before it.
    Put32(file, 0x9AC6CDD7u);
    Put16(file, 0);
    Put16(file, 0);
    Put16(file, 0);
    Put16(file, unsigned(width));
    Put16(file, unsigned(height));
    Put16(file, 72);
    Put32(file, 0);
    unsigned sum = 0;
    for (std::size_t i = 0; i < 20; i += 2)
        sum ^= unsigned(file[i] | file[i + 1] << 8);
    Put16(file, sum);
    // Metafile header: in memory, 9 words long, version 3, total size in words, one object, the
    // largest record, no parameters.
    Put16(file, 1);
    Put16(file, 9);
    Put16(file, 0x0300);
    Put32(file, std::uint32_t((18 + body.size()) / 2));
    Put16(file, 1);
    Put32(file, largest);
    Put16(file, 0);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// Appends a record of the given function and 16-bit parameters.
void Record(Bytes &body, unsigned function, std::initializer_list<unsigned> words) {
    Put32(body, std::uint32_t(3 + words.size())); // size in 16-bit words
    Put16(body, function);
    for (unsigned w : words)
        Put16(body, w);
}

// Appends bytes padded with zeros to a whole number of 16-bit words.
void PutPadded(Bytes &body, const std::string &bytes) {
    body.insert(body.end(), bytes.begin(), bytes.end());
    if (bytes.size() % 2)
        body.push_back(0);
}

} // namespace

QColor LastRectangleColour(int rectangles) {
    return (rectangles - 1) % 2 ? QColor(0, 0, 255) : QColor(255, 0, 0);
}

std::vector<std::uint8_t> SlowWmf(int side, int rectangles) {
    Bytes body;
    Record(body, 0x020B, {0, 0});                           // SETWINDOWORG y, x
    Record(body, 0x020C, {unsigned(side), unsigned(side)}); // SETWINDOWEXT height, width
    for (int i = 0; i < rectangles; ++i) {
        Put32(body, 7); // CREATEBRUSHINDIRECT: solid, colour, no hatch
        Put16(body, 0x02FC);
        Put16(body, 0);
        Put32(body, Colour(i));
        Put16(body, 0);
        Record(body, 0x012D, {0});                                    // SELECTOBJECT 0
        Record(body, 0x041B, {unsigned(side), unsigned(side), 0, 0}); // RECTANGLE b, r, t, l
        Record(body, 0x01F0, {0});                                    // DELETEOBJECT 0
    }
    Record(body, 0x0000, {}); // end of file
    return Metafile(side, side, body);
}

std::vector<std::uint8_t> TextWmf(const std::string &face, const std::string &text) {
    constexpr int Width = 400, Height = 100, TextHeight = 60;
    Bytes body;
    Record(body, 0x020B, {0, 0});                              // SETWINDOWORG y, x
    Record(body, 0x020C, {unsigned(Height), unsigned(Width)}); // SETWINDOWEXT height, width
    // A white page: a renderer sizes a metafile by what it draws, and text alone may not count.
    Put32(body, 7); // CREATEBRUSHINDIRECT: solid white
    Put16(body, 0x02FC);
    Put16(body, 0);
    Put32(body, 0x00FFFFFFu);
    Put16(body, 0);
    Record(body, 0x012D, {0});                                       // SELECTOBJECT 0
    Record(body, 0x041B, {unsigned(Height), unsigned(Width), 0, 0}); // RECTANGLE b, r, t, l
    Record(body, 0x01F0, {0});                                       // DELETEOBJECT 0
    // CREATEFONTINDIRECT: a cell height of TextHeight, normal weight, ANSI, then the face name
    // in its whole 32-byte field, as Windows writes it.
    std::string name = face.substr(0, 31);
    name.resize(32, '\0');
    const std::size_t fontWords = 3 + 9 + name.size() / 2;
    Put32(body, std::uint32_t(fontWords));
    Put16(body, 0x02FB);
    for (unsigned w : {unsigned(TextHeight), 0u, 0u, 0u, 400u})
        Put16(body, w);
    for (int i = 0; i < 8;
         ++i) // italic, underline, strike-out, charset, precisions, quality, pitch
        body.push_back(0);
    PutPadded(body, name);
    Record(body, 0x012D, {0});    // SELECTOBJECT 0
    Record(body, 0x0209, {0, 0}); // SETTEXTCOLOR black
    Record(body, 0x0102, {1});    // SETBKMODE transparent
    const std::size_t textWords = 3 + 1 + (text.size() + 1) / 2 + 2;
    Put32(body, std::uint32_t(textWords)); // TEXTOUT: length, the bytes, y, x
    Put16(body, 0x0521);
    Put16(body, unsigned(text.size()));
    PutPadded(body, text);
    Put16(body, 20);
    Put16(body, 20);
    Record(body, 0x01F0, {0}); // DELETEOBJECT 0
    Record(body, 0x0000, {});  // end of file
    return Metafile(Width, Height, body, std::uint32_t(std::max(fontWords, textWords)));
}

} // namespace hostile
