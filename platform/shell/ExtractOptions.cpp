#include "ExtractOptions.h"

#include <QCheckBox>

#include "Forms.h"
#include "ShellApi.h"

void TagOptionBoxes(QCheckBox *aspect, QCheckBox *offline, QCheckBox *screen, QCheckBox *quality,
                    QCheckBox *origSize) {
    SetTag(aspect, int(IEIFLAG_ASPECT));
    SetTag(offline, int(IEIFLAG_OFFLINE));
    SetTag(screen, int(IEIFLAG_SCREEN));
    SetTag(quality, int(IEIFLAG_QUALITY));
    SetTag(origSize, int(IEIFLAG_ORIGSIZE));
}

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
