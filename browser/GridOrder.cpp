#include "GridOrder.h"

#include <algorithm>
#include <numeric>

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
