// The directory search the scans use, folder chains and the extension key.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "FileSystem.h"
#include "TestUtil.h"

namespace {

std::set<std::string> Find(const std::string &pattern) {
    std::set<std::string> names;
    TFileSearch search;
    if (search.FindFirst(pattern, faHidden | faArchive)) {
        do
            names.insert(search.Current().Name);
        while (search.FindNext());
    }
    return names;
}

} // namespace

TEST(FileSearch, FindsRegularFilesOnlyWhateverTheirAttributes) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("plain.jpg"), "x");
    testutil::WriteFile(dir.file("readonly.png"), "x");
    ::chmod(dir.file("readonly.png").c_str(), 0444);
    testutil::WriteFile(dir.file(".hidden.gif"), "x");
    testutil::WriteFile(dir.file("noext"), "x");
    ::mkdir(dir.file("folder.jpg").c_str(), 0755);
    ::mkfifo(dir.file("pipe.jpg").c_str(), 0644);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = dir.file("sock.jpg");
    if (sockPath.size() < sizeof addr.sun_path) {
        std::copy(sockPath.begin(), sockPath.end(), addr.sun_path);
        ::bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    }
    ::symlink(dir.file("plain.jpg").c_str(), dir.file("link.jpg").c_str());

    EXPECT_EQ(Find(dir.file("*.*")), (std::set<std::string>{"plain.jpg", "readonly.png",
                                                            ".hidden.gif", "noext", "link.jpg"}));
    ::close(sock);

    // Every file found is marked archive; a dot file hidden; one nobody may write read-only.
    std::map<std::string, std::uint32_t> attributes;
    TFileSearch search;
    ASSERT_TRUE(search.FindFirst(dir.file("*.*"), faHidden | faArchive));
    do
        attributes[search.Current().Name] = search.Current().Attr;
    while (search.FindNext());
    // The system's attribute bits: read-only 0x01, hidden 0x02, archive 0x20.
    EXPECT_EQ(attributes["plain.jpg"], 0x20u);
    EXPECT_EQ(attributes["readonly.png"], 0x21u);
    EXPECT_EQ(attributes[".hidden.gif"], 0x22u);
}

TEST(FileSearch, PatternIgnoresCaseAndHiddenNeedsTheMask) {
    testutil::TempDir dir;
    for (const char *name : {"A.CR2", "b.cr2", "c.Cr2", "d.cr2x", "e.jpg", ".f.CR2"})
        testutil::WriteFile(dir.file(name), "x");
    EXPECT_EQ(Find(dir.file("*.CR2")),
              (std::set<std::string>{"A.CR2", "b.cr2", "c.Cr2", ".f.CR2"}));

    TFileSearch search;
    std::set<std::string> visible;
    if (search.FindFirst(dir.file("*.CR2"), faArchive)) {
        do
            visible.insert(search.Current().Name);
        while (search.FindNext());
    }
    EXPECT_EQ(visible.count(".f.CR2"), 0u);
}

TEST(FileSearch, NamesComeInUpperCasedByteOrderTiesByRawBytes) {
    testutil::TempDir dir;
    // Created in an order unlike the expected one; the file system's own order is a hash.
    const std::vector<std::string> created = {
        "img_0006.jpg", "IMG_0003.jpg", "IMG_0007.jpg", "IMG_0001.jpg", "a.jpg", "A.jpg",
        "_z.jpg",       "Z.jpg",        "caf\xe9.jpg",  "CAFE.jpg",     "b.jpg"};
    for (const std::string &name : created)
        testutil::WriteFile(dir.file(name), "x");
    // By hand: upper-cased, "_" (5F) sorts after "Z" (5A), byte E9 after every ASCII letter,
    // and "A.jpg" before "a.jpg" on the tie.
    const std::vector<std::string> expected = {
        "A.jpg",        "a.jpg",        "b.jpg",        "CAFE.jpg", "caf\xe9.jpg", "IMG_0001.jpg",
        "IMG_0003.jpg", "img_0006.jpg", "IMG_0007.jpg", "Z.jpg",    "_z.jpg"};
    std::vector<std::string> found;
    TFileSearch search;
    if (search.FindFirst(dir.file("*.*"), faArchive)) {
        do
            found.push_back(search.Current().Name);
        while (search.FindNext());
    }
    EXPECT_EQ(found, expected);
}

TEST(FileSearch, MissingFolderFindsNothing) {
    TFileSearch search;
    EXPECT_FALSE(search.FindFirst("/nonexistent-pixavant-folder/*.*", faHidden | faArchive));
    EXPECT_FALSE(search.FindNext());
}

TEST(FileSystem, ExtensionKeyAndPathParts) {
    EXPECT_EQ(ExtensionKey("photo.tiff"), ".TIF");
    EXPECT_EQ(ExtensionKey("photo.jpeg"), ".JPE");
    EXPECT_EQ(ExtensionKey("photo.cr2"), ".CR2");
    EXPECT_EQ(ExtensionKey("/a.JPG/noext"), "");
    EXPECT_EQ(ExtensionKey("IMG.CR2.JPG"), ".JPG");
    EXPECT_EQ(ExtractFileName("/x/y.jpg"), "y.jpg");
    EXPECT_EQ(ExtractFileDir("/y.jpg"), "/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/"), "/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
    EXPECT_TRUE(MatchesMask("x.cr2", "*.CR2"));
    EXPECT_TRUE(MatchesMask("noext", "*.*"));
    EXPECT_FALSE(MatchesMask("x.cr", "*.CR2"));
}
