// The file selection record of a task's data file.
#include "engine/storage/pieces.h"
#include "engine/storage/selection_record.h"

void TPieces::BuildSelectionRecord()
{
    if (!CheckFinished())
        return;
    std::vector<TSelectionEntry> entries;
    for (const auto &file : files)
        entries.push_back({file->relativeName, !file->Selected()});
    const std::string bytes = EncodeSelectionRecord(entries);
    TPiecesEvent event;
    event.code = PIECES_EVENT_SELECTION_RECORD;
    event.argument = 1;
    event.size = static_cast<int32_t>(bytes.size());
    event.bytes = bytes.data();
    if (owner != nullptr)
        owner->OnDataFileEvent(event);
}

void TPieces::ApplySelectionRecord()
{
    std::set<std::string> marked;
    if (!piecesSetUp || !DecodeSelectionRecord(selectionInput, marked))
        return;
    std::set<int32_t> skipped;
    for (const auto &file : files) {
        if (marked.count(file->relativeName) != 0)
            skipped.insert(file->index);
    }
    // Every file is deselected first, so that selecting the others again
    // settles the boundary pieces they share.
    for (const auto &file : files)
        SelectFile(file->index, true);
    for (const auto &file : files) {
        if (skipped.count(file->index) == 0)
            SelectFile(file->index, false);
    }
}
