// What the viewer shares with the browser window instead of keeping a list of its own: the
// thumbnail list's entries and selection, and the picture the selected entry stands for. The
// browser window implements it; the viewer never sees that window's widgets.
#pragma once

#include <string>

class IViewerBrowser {
public:
    virtual ~IViewerBrowser() = default;
    // The selected entry, -1 for none.
    virtual int SelectedEntry() const = 0;
    virtual int EntryCount() const = 0;
    // An entry's caption: the file name as the file system has it (any bytes).
    virtual std::string EntryCaption(int index) const = 0;
    // Selects an entry as a click would; the selected picture follows it.
    virtual void SelectEntry(int index) = 0;
    // The full path of the selected picture as the file system has it (a RAW file's
    // thumbnail entry leads to the RAW file); empty when none is selected.
    virtual std::string SelectedPicture() const = 0;

    // Culling the selected picture.
    // Marks it by a key: '0'-'5' stars, 'X' reject, '6'-'9' a colour label.
    virtual void MarkSelected(char key) = 0;
    // Its marks as the viewer's caption shows them; empty when it has none.
    virtual std::string SelectedMarksText() const = 0;
    // Moves it to the trash with the files that belong to it; the index its entry had, or -1
    // when nothing went.
    virtual int DeleteSelected() = 0;
    // Brings back the last deletion and selects its entry; false when there is none.
    virtual bool UndoDelete() = 0;
    // False for an entry a filter hides: Next, Previous and the slideshow pass it by.
    virtual bool EntryShown(int index) const = 0;
    // Whether the shooting information is shown, in both windows.
    virtual bool ShootingInfoShown() const = 0;
    virtual void SetShootingInfoShown(bool shown) = 0;
    // The picture an entry stands for, as SelectedPicture() would give it once the entry is
    // selected; empty when the browser cannot say (the viewer then reads nothing ahead).
    virtual std::string EntryPicture(int index) const = 0;
};
