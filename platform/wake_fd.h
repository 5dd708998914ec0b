#pragma once

namespace platform {

// A descriptor that poll reports readable once signalled, until drained: it
// lets one thread wake another that waits on sockets (eventfd).
int OsWakeFdOpen();
void OsWakeFdSignal(int fd);
void OsWakeFdDrain(int fd);
void OsWakeFdClose(int fd);

} // namespace platform
