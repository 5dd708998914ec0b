#pragma once

namespace platform {

// Test-only crash points. When the environment variable QL_CRASH_POINT (read
// once, at the first call) equals name, the process aborts on the spot: no
// destructors, no flushing, as a power cut or a kill would leave it. Names in
// use:
//   "spill-write"   the block spill file is partly written (temp file)
//   "record-rename" data files are synced, the new task state file is
//                   written beside the old one but not yet renamed over it
//   "full-check"    the start-up full check has verified its first piece
//   "final-rename"  a completed data file is synced, not yet renamed to its
//                   final name
void CrashPointReached(const char *name);

} // namespace platform
