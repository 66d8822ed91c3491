// A byte-oriented file with a small read buffer, the file object behind every stream of the
// decoder's callback table. Reads go through a 4096-byte buffer, writes go straight to the file
// at the logical position, and an empty name gives a file that lives only in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr int FastFileBufferSize = 4096;

// Open modes: CreateMode creates or truncates; anything else opens an existing file, the two
// low bits giving the access (0 read, 1 write, 2 or 3 read and write) and bits 4 to 6 the
// sharing with other openers. Linux has no mandatory share modes, so the sharing bits are
// accepted and otherwise ignored.
constexpr std::int32_t FastFileCreateMode = 0xFFFF;

// Code of the input/output error raised when a file does not fit the signed 32-bit positions
// and sizes of this class (2 GiB and more).
constexpr int FastFileTooLargeCode = 223;

class TFastFile {
public:
    // Opens name with mode; raises EInOutError when that fails, so errorCode is 0 whenever the
    // constructor returns.
    TFastFile(const std::string &name, std::int32_t mode, std::int32_t &errorCode);
    // Takes over an open descriptor of a regular file (closed with this object), read and
    // written from its start; raises EInOutError as opening by name does.
    explicit TFastFile(int fd);
    ~TFastFile();
    TFastFile(const TFastFile &) = delete;
    TFastFile &operator=(const TFastFile &) = delete;

    std::int32_t Close(bool release = true);

    std::int32_t Size();
    std::int32_t RawPosition() const;
    std::int32_t Position() const { return RawPosition() - FRemaining; }
    std::int32_t Seek(std::int32_t offset, std::int32_t origin);
    std::int32_t Read(void *dest, std::int32_t count);
    std::uint8_t ReadByte() {
        if (FRemaining == 0)
            FillBuffer();
        if (FRemaining == 0)
            return 0;
        --FRemaining;
        return FBuffer[FBufPos++];
    }
    std::int32_t Write(const void *source, std::int32_t count);
    void FillBuffer();
    void ResetBuffer() {
        FRemaining = 0;
        FBufPos = 0;
    }

    // Set when a refill obtained no byte or a write transferred fewer bytes than asked;
    // cleared only by Seek.
    bool EndFlag() const { return FEndFlag; }
    bool InMemory() const { return FInMemory; }

private:
    struct TMemoryStream {
        std::vector<std::uint8_t> Data;
        std::int64_t Position = 0;
    };

    void Open(const std::string &name, std::int32_t mode, std::int32_t &errorCode);
    std::int64_t PlatformRead(void *dest, std::int64_t count);

    // Disk mode: the open descriptor and the platform position, which only this object moves.
    int FHandle = -1;
    std::int64_t FRawPos = 0;

    std::int32_t FRemaining = 0;
    std::uint16_t FBufPos = 0;
    std::uint8_t FBuffer[FastFileBufferSize];
    bool FEndFlag = false;
    std::int32_t FFilled = 0;
    bool FInMemory = false;
    std::unique_ptr<TMemoryStream> FStream;
};
