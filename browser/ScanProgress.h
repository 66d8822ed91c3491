// The progress bar's logical state during a scan. The bar itself cannot show a maximum of 0,
// so the window shows what this holds.
#pragma once

class TScanProgress {
public:
    int Position() const { return FPosition; }
    int Max() const { return FMax; }
    // A maximum below 0 is 0; the position is kept within the new range.
    void SetMax(int max);
    // Clamped to 0 .. Max().
    void SetPosition(int position);
    // An item of the list is done. The thumbnail pass shows how far down the list it is; the
    // icon pass steps as the native bar does, from the minimum again once past the maximum.
    void Step(int itemIndex, bool thumbnailPass);

private:
    int FPosition = 0;
    int FMax = 0;
};
