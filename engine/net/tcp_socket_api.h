#pragma once
#include "engine/net/socket_api.h"

// The system's TCP sockets.
QSocketApi &TcpSocketApi();

// Tests put a wrapper in front of the system calls to provoke errors the
// system gives only under load (EMFILE on accept ...); nullptr restores it.
void ReplaceTcpSocketApi(QSocketApi *replacement);
