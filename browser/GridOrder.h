// Which entries the grid shows and in what order: the filter by marks and the sort keys of
// the View menu. Nothing of it is kept between runs.
#pragma once

#include <string>
#include <vector>

#include "Marks.h"

struct TGridFilter {
    enum TKind { All, AtLeast, Picks, Rejects } Kind = All;
    int Stars = 0; // for AtLeast
};

// Picks are rated and not rejected; AtLeast 0 shows everything but rejects.
bool FilterPasses(const TGridFilter &filter, const TMarks &marks);

enum class TSortKey { Name, DateTaken, Modified, Size, Rating };

struct TSortFacts {
    int NameOrder = 0;     // the entry's place in the folder's listing
    std::string DateTaken; // "YYYY:MM:DD HH:MM:SS"
    long long Modified = 0;
    long long Size = 0;
    int Rating = 0;
};

// The entries' indexes in the order to show them; equal keys keep the listing's order, in
// either direction, so a burst shot in one second stays in its sequence.
std::vector<int> SortedOrder(const std::vector<TSortFacts> &facts, TSortKey key, bool descending);

// The entry that makes one photo with pictures[index] (the pictures the entries stand for): a
// RAW file and a JPEG of the same name before the extension, as a camera writes both; -1 when
// there is none.
int PairPartner(const std::vector<std::string> &pictures, int index);
