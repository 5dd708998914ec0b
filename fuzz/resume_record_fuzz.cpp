// Reads arbitrary bytes as a resume record and a selection record, the way a
// data file does at its start; every entry handed out must be in bounds.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "engine/storage/resume_record.h"
#include "engine/storage/selection_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::set<std::string> deselected;
    DecodeSelectionRecord(bytes, deselected);

    TResumeRecordReader reader;
    if (!reader.Parse(bytes))
        return 0;
    const uint8_t hash[20] = {};
    reader.InfoHashMatches(hash);
    TResumeFileState file;
    bool hasPriority = false;
    reader.FindFile("/d/a.bin.qltmp", "/d/a.bin", file, hasPriority);
    std::string_view bits;
    if (reader.BitField(bits) && bits.data() == nullptr && !bits.empty())
        std::abort();
    for (const TResumePieceState &entry : reader.PieceEntries()) {
        if (entry.index < 0 || entry.part <= 0)
            std::abort();
        TRunningSha1 hash1;
        hash1.ImportImage(entry.image.data());
    }
    return 0;
}
