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
};
