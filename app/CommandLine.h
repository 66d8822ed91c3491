// What the command line asks the program to start on: `pixavant FOLDER` opens that folder,
// `pixavant FILE` opens the file's folder with that picture selected and shown in the viewer.
#pragma once

#include <string>
#include <vector>

class TMainForm;

struct TStartRequest {
    std::string Folder; // absolute; empty for the usual start folder
    std::string File;   // the name of the picture to open in Folder; empty for none
};

// Reads the arguments after the program name, as the file system's bytes. A missing or
// unreadable path gives a message in error (for standard error) and an empty request, so the
// program starts as usual.
TStartRequest ParseCommandLine(const std::vector<std::string> &args, std::string &error);

// The list entry that stands for a file: a RAW file is listed as its thumbnail file.
std::string ListEntryForFile(const std::string &name);

// Opens the request's folder (the usual start folder when it has none), then selects the
// request's picture and opens it in the viewer. False, with a message in error, when the
// folder's list has no entry for the picture.
bool StartOn(TMainForm &main, const TStartRequest &request, std::string &error);
