#pragma once
#include <string>

// The values of a task state file: the resume record ("bits"), the file
// selection record ("part"), an opaque value kept as found ("seeds"), the
// torrent metainfo ("torrent") and the versions of the sources' files the
// data came from ("versions"), each with its own dirty flag. Readers that
// know only the first four ignore "versions".
struct TTaskStateValues {
    std::string bits;
    std::string part;
    std::string seeds;
    std::string torrent;
    std::string versions;
    bool bitsDirty = false;
    bool partDirty = false;
    bool seedsDirty = false;
    bool torrentDirty = false;
    bool versionsDirty = false;

    bool AnyDirty() const { return bitsDirty || partDirty || seedsDirty || torrentDirty || versionsDirty; }
    void ClearDirty() { bitsDirty = partDirty = seedsDirty = torrentDirty = versionsDirty = false; }
};

// The encoded file: one dictionary with "bits", "part", "seeds", "torrent",
// "versions" in that (sorted) order, each only when non-empty.
std::string EncodeStateFile(const TTaskStateValues &values);
// Takes each value that the bytes hold and that is longer than 2 bytes;
// false, with values untouched, when the bytes are no dictionary.
bool DecodeStateFile(const std::string &bytes, TTaskStateValues &values);

// Reads the file at path into values and clears the dirty flags. True when
// path is non-empty; a missing, unreadable or unparsable file leaves the
// values as they were.
bool LoadStateFile(const std::string &path, TTaskStateValues &values);
// Writes the values when any is dirty, replacing the file atomically (a
// crash leaves the old file or the new one, never a mix). True when nothing
// needed writing or the file was replaced; the dirty flags are cleared only
// then. The caller makes the data files durable first: the record vouches
// for what they hold.
bool SaveStateFile(const std::string &path, TTaskStateValues &values);
