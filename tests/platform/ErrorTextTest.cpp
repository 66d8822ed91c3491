// The texts users read in error boxes: the shell's result codes worded as the system words them,
// and the reasons given when a whole file cannot be read.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "Exceptions.h"
#include "FileRead.h"
#include "TestUtil.h"

TEST(ErrorText, ShellResultCodesReadAsTheSystemWordsThem) {
    struct Row {
        std::uint32_t Code;
        const char *Text;
    };
    // The system's own message texts for these codes.
    const Row rows[] = {
        {0x80004001u, "Not implemented"},
        {0x80004002u, "No such interface supported"},
        {0x80004004u, "Operation aborted"},
        {0x80004005u, "Unspecified error"},
        {0x8000000Au, "The data necessary to complete this operation is not yet available."},
        {0x8007000Eu, "Not enough memory resources are available to complete this operation."},
        {0x80070057u, "The parameter is incorrect."},
        {0x80070002u, "The system cannot find the file specified."},
        {0x800705B4u, "This operation returned because the timeout period expired."},
        {0x80070003u, "The system cannot find the path specified."},
        {0x80070005u, "Access is denied."},
        {0x8007007Bu, "The filename, directory name, or volume label syntax is incorrect."},
        {0x800700A1u, "The specified path is invalid."},
        {0x8007010Bu, "The directory name is invalid."},
        // A code without a text of its own is named by its number.
        {0x80041234u, "OLE error 80041234"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Text);
        try {
            OleCheck(HRESULT(row.Code));
            ADD_FAILURE() << "no exception";
        } catch (const EOleSysError &e) {
            EXPECT_EQ(e.Message(), std::string(row.Text));
            EXPECT_EQ(std::uint32_t(e.ErrorCode()), row.Code);
        }
    }
    // Success codes, S_FALSE included, raise nothing.
    EXPECT_NO_THROW(OleCheck(HRESULT(0)));
    EXPECT_NO_THROW(OleCheck(HRESULT(1)));
}

TEST(ErrorText, AWholeFileIsReadOrItsReasonIsGiven) {
    testutil::TempDir dir;
    const std::string file = dir.file("a.jpg");
    const std::vector<std::uint8_t> bytes = {0xFF, 0xD8, 0x00, 0x7F, 0xFF};
    testutil::WriteFile(file, bytes);
    EXPECT_EQ(ReadWholeFile(file), bytes);
    testutil::WriteFile(dir.file("empty.jpg"), std::string());
    EXPECT_TRUE(ReadWholeFile(dir.file("empty.jpg")).empty());

    struct Row {
        std::string Path;
        std::string Message;
    };
    const std::string fifo = dir.file("pipe.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Row rows[] = {
        {dir.file("missing.jpg"),
         "Cannot open file \"" + dir.file("missing.jpg") + "\". No such file or directory"},
        // Neither is read: a pipe could block for ever.
        {fifo, "Cannot open file \"" + fifo + "\". Invalid argument"},
        {dir.path(), "Cannot open file \"" + dir.path() + "\". Invalid argument"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Path);
        try {
            ReadWholeFile(row.Path);
            ADD_FAILURE() << "no exception";
        } catch (const EFOpenError &e) {
            EXPECT_EQ(e.Message(), row.Message);
        }
    }
}
