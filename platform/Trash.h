// The desktop's trash (the freedesktop one, as file managers use it) for files that go
// together: a picture with the files that belong to it.
#pragma once

#include <string>
#include <vector>

struct TTrashedFile {
    std::string Original; // where the file was
    std::string InTrash;  // where it is now
};

// Moves the files to the trash in the order given, all or none: when one cannot go (a file
// system without a trash, no permission), the ones already moved are put back and Exception
// is raised naming that file. Files that do not exist are left out.
std::vector<TTrashedFile> MoveToTrash(const std::vector<std::string> &files);

// Puts trashed files back where they were and drops their trash records. A file whose place
// is taken again stays in the trash; Exception names the first such file once the others are
// back.
void RestoreFromTrash(const std::vector<TTrashedFile> &files);
