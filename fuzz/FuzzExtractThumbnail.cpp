// Feeds arbitrary bytes to the preview library as the RAW file, through the decoder table with
// both the input and the output living in memory. Any crash, sanitizer report, exception
// leaving the library, hang or runaway allocation is a finding.
#include "DecoderIo.h"
#include "Mervante.h"

#include <cstdint>
#include <cstring>

namespace {

const std::uint8_t *InputData = nullptr;
std::int32_t InputSize = 0;
constexpr const char *InputName = "fuzz.CR2";

// Every file the library opens is a fresh in-memory file; the input one holds the bytes.
extern "C" TDecoderFile *FuzzOpen(const char *name, const char *mode) {
    (void)mode;
    TDecoderFile *file = IoOpen("", "rb");
    if (file && std::strcmp(name, InputName) == 0) {
        IoWrite(InputData, 1, InputSize, file);
        IoSeek(file, 0, 0);
    }
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size > 64u << 20)
        return 0;
    InputData = data;
    InputSize = static_cast<std::int32_t>(size);
    TDecoderIoTable table;
    BuildDecoderIoTable(table);
    table.Open = FuzzOpen;
    char output[MervanteOutputPathSize] = "preview.jpg";
    std::int32_t quality = 100;
    ExtractThumbnail(reinterpret_cast<const MervanteIoTable *>(&table), InputName, output,
                     &quality);
    return 0;
}
