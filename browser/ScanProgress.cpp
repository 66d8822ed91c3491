#include "ScanProgress.h"

#include <algorithm>

void TScanProgress::SetMax(int max) {
    FMax = std::max(max, 0);
    FPosition = std::min(FPosition, FMax);
}

void TScanProgress::SetPosition(int position) {
    FPosition = std::clamp(position, 0, FMax);
}

void TScanProgress::Step(int itemIndex, bool thumbnailPass) {
    if (thumbnailPass)
        SetPosition(itemIndex + 1);
    else
        SetPosition(FPosition + 1 > FMax ? 0 : FPosition + 1);
}
