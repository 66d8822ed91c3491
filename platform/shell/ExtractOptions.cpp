#include "ExtractOptions.h"

#include <QCheckBox>

#include "Forms.h"
#include "ShellApi.h"

int ColorDepthBits(int index) {
    switch (index) {
    case 0:
        return 4;
    case 1:
        return 8;
    case 2:
        return 16;
    case 3:
        return 24;
    default:
        return 32;
    }
}

unsigned CheckedFlags(std::initializer_list<const QCheckBox *> boxes) {
    unsigned flags = 0;
    for (const QCheckBox *box : boxes)
        if (box && box->isChecked())
            flags |= unsigned(Tag(box));
    return flags;
}

void ExcludeAspectAndScreen(const QCheckBox *sender, QCheckBox *aspect, QCheckBox *screen) {
    if (!sender->isChecked())
        return;
    if (Tag(sender) == int(IEIFLAG_ASPECT))
        screen->setChecked(false);
    if (Tag(sender) == int(IEIFLAG_SCREEN))
        aspect->setChecked(false);
}
