// A thin layer over the shell's COM-shaped interfaces: item id lists from names, folders,
// thumbnail extractors, thumbnails as bitmaps, file icons and system icon indexes. Free
// functions without state, usable on any thread.
#pragma once

#include <memory>
#include <string>

#include "Graphics.h"
#include "ShObjIdlQuot.h"
#include "ShellApi.h"
#include "ShellIcons.h"

// Parses name in folder; raises EOleSysError when it cannot. The caller frees the list with
// the shell allocator.
void ParseItemName(IShellFolder *folder, const std::string &name, LPITEMIDLIST &itemIdList);
// Binds the item to an interface; raises EOleSysError when it cannot.
void BindFolderObject(IShellFolder *folder, LPCITEMIDLIST itemIdList, REFIID iid, void **out);
// True only when the shell answers S_OK; never raises.
bool GetItemUIObject(IShellFolder *folder, UINT count, const LPCITEMIDLIST *itemIdLists, REFIID iid,
                     void **out);

// The IShellFolder of a folder path; raises EOleSysError from any step.
void GetShellFolder(const std::string &folderPath, IMalloc *malloc,
                    ComPtr<IShellFolder> &shellFolder);
// The extractor of a file inside folder: true when the shell gave one. Raises when the name
// cannot be parsed.
bool GetExtractImage(IShellFolder *folder, const std::string &fileName, IMalloc *malloc,
                     ComPtr<IExtractImage> &extractImage);
// The extractor of a file given by its full path; raises from the allocator, folder or name.
bool GetExtractImageForFile(const std::string &path, ComPtr<IExtractImage> &extractImage);

// Asks the extractor for a picture of Width x Height (IEIFLAG_ASYNC added to flags, which come
// back as the extractor leaves them). While Extract runs, the extractor's cancellable task (if
// it offers one) stands in runnableTask. True when a bitmap was made; a failed extraction
// writes one debugger line and answers false. Raises only non-OLE errors from Extract.
bool GetThumbnailBitmap(IExtractImage *extractImage, int width, int height, unsigned colorDepth,
                        DWORD &flags, ComPtr<IRunnableTask> &runnableTask,
                        std::unique_ptr<TBitmap> &bitmap);
// The same with a task place that another thread may take to kill the extraction.
bool GetThumbnailBitmap(IExtractImage *extractImage, int width, int height, unsigned colorDepth,
                        DWORD &flags, TRunnableTaskSlot &runnableTask,
                        std::unique_ptr<TBitmap> &bitmap);

// The file's large shell icon; false (icon left as it was) when the shell has none. Running
// out of memory raises std::bad_alloc, as everywhere else, rather than passing for "no icon".
bool GetFileIcon(const std::string &path, std::unique_ptr<TIcon> &icon);
// The index of the file's icon in the system image list.
int GetSysIconIndex(const std::string &path);
