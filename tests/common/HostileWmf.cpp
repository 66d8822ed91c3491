#include "HostileWmf.h"

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

} // namespace

QColor LastRectangleColour(int rectangles) {
    return (rectangles - 1) % 2 ? QColor(0, 0, 255) : QColor(255, 0, 0);
}

std::vector<std::uint8_t> SlowWmf(int side, int rectangles) {
    Bytes body;
    const auto record = [&](unsigned function, std::initializer_list<unsigned> words) {
        Put32(body, std::uint32_t(3 + words.size())); // size in 16-bit words
        Put16(body, function);
        for (unsigned w : words)
            Put16(body, w);
    };
    record(0x020B, {0, 0});                           // SETWINDOWORG y, x
    record(0x020C, {unsigned(side), unsigned(side)}); // SETWINDOWEXT height, width
    for (int i = 0; i < rectangles; ++i) {
        Put32(body, 7); // CREATEBRUSHINDIRECT: solid, colour, no hatch
        Put16(body, 0x02FC);
        Put16(body, 0);
        Put32(body, Colour(i));
        Put16(body, 0);
        record(0x012D, {0});                                    // SELECTOBJECT 0
        record(0x041B, {unsigned(side), unsigned(side), 0, 0}); // RECTANGLE b, r, t, l
        record(0x01F0, {0});                                    // DELETEOBJECT 0
    }
    record(0x0000, {}); // end of file

    Bytes file;
    // Placeable header: key, handle, frame (0, 0, side, side), 72 units per inch (one pixel each
    // at the usual 72 dots per inch), reserved, checksum of the ten words before it.
    Put32(file, 0x9AC6CDD7u);
    Put16(file, 0);
    Put16(file, 0);
    Put16(file, 0);
    Put16(file, unsigned(side));
    Put16(file, unsigned(side));
    Put16(file, 72);
    Put32(file, 0);
    unsigned sum = 0;
    for (std::size_t i = 0; i < 20; i += 2)
        sum ^= unsigned(file[i] | file[i + 1] << 8);
    Put16(file, sum);
    // Metafile header: in memory, 9 words long, version 3, total size in words, one object, the
    // largest record (7 words), no parameters.
    Put16(file, 1);
    Put16(file, 9);
    Put16(file, 0x0300);
    Put32(file, std::uint32_t((18 + body.size()) / 2));
    Put16(file, 1);
    Put32(file, 7);
    Put16(file, 0);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

} // namespace hostile
