// The option controls both windows show for a thumbnail request: the colour-depth box and the
// extraction-flag boxes, each box tagged with its flag.
#pragma once

#include <initializer_list>

class QCheckBox;

// Tags the five option boxes, in the order both windows show them, with their flags.
void TagOptionBoxes(QCheckBox *aspect, QCheckBox *offline, QCheckBox *screen, QCheckBox *quality,
                    QCheckBox *origSize);

// Bits per pixel of the colour-depth box's entries: 4, 8, 16, 24, then 32.
int ColorDepthBits(int index);

// The flags of the checked boxes, taken from their tags.
unsigned CheckedFlags(std::initializer_list<const QCheckBox *> boxes);

// Rendering to the aspect ratio and rendering for the screen exclude each other: checking one
// box unchecks the other.
void ExcludeAspectAndScreen(const QCheckBox *sender, QCheckBox *aspect, QCheckBox *screen);
