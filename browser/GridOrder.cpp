#include "GridOrder.h"

#include <algorithm>
#include <cctype>
#include <numeric>

#include "RawFormats.h"

bool FilterPasses(const TGridFilter &filter, const TMarks &marks) {
    switch (filter.Kind) {
    case TGridFilter::All:
        return true;
    case TGridFilter::AtLeast:
        return marks.Rating >= filter.Stars;
    case TGridFilter::Picks:
        return marks.Rating >= 1;
    case TGridFilter::Rejects:
        return marks.Rating < 0;
    }
    return true;
}

namespace {

// -1, 0 or 1 by the key alone.
int Compare(const TSortFacts &a, const TSortFacts &b, TSortKey key) {
    auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    switch (key) {
    case TSortKey::Name:
        return sign(a.NameOrder, b.NameOrder);
    case TSortKey::DateTaken:
        return sign(a.DateTaken, b.DateTaken);
    case TSortKey::Modified:
        return sign(a.Modified, b.Modified);
    case TSortKey::Size:
        return sign(a.Size, b.Size);
    case TSortKey::Rating:
        return sign(a.Rating, b.Rating);
    }
    return 0;
}

} // namespace

std::vector<int> SortedOrder(const std::vector<TSortFacts> &facts, TSortKey key, bool descending) {
    std::vector<int> order(facts.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int x, int y) {
        const TSortFacts &a = facts[std::size_t(x)], &b = facts[std::size_t(y)];
        const int by = Compare(a, b, key);
        if (by != 0)
            return descending ? by > 0 : by < 0;
        return a.NameOrder < b.NameOrder;
    });
    return order;
}

namespace {

// The name before the extension, and whether the picture is a RAW file or a JPEG; false for
// anything else.
bool PairSide(const std::string &picture, std::string &stem, bool &raw) {
    const std::size_t slash = picture.rfind('/');
    const std::size_t dot = picture.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    std::string extension = picture.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    stem = picture.substr(0, dot);
    raw = IsRawFileName(picture);
    return raw || extension == ".JPG" || extension == ".JPEG";
}

} // namespace

int PairPartner(const std::vector<std::string> &pictures, int index) {
    std::string stem, other;
    bool raw = false, otherRaw = false;
    if (index < 0 || index >= int(pictures.size()) ||
        !PairSide(pictures[std::size_t(index)], stem, raw))
        return -1;
    for (std::size_t i = 0; i < pictures.size(); ++i)
        if (int(i) != index && PairSide(pictures[i], other, otherRaw) && otherRaw != raw &&
            other == stem)
            return int(i);
    return -1;
}
