#pragma once
#include <cstddef>
#include <cstdint>

// What a datagram on the UDP server's socket is, decided in this order:
// anything longer than 8 bytes that starts with "d" belongs to another
// protocol; the rendezvous server's 8-byte address report and 32-byte
// introduction notice; a 48-byte punch naming this host; a transport packet
// (positive first word, 64 bytes or more); the rendezvous server's
// introduction answer (first word 0 or negative, 64 bytes or more).
enum class TUdpDatagramKind {
    Dropped,
    AddressReport,
    IntroductionNotice,
    Punch,
    Transport,
    IntroductionAnswer,
};

// fromRendezvous: the source is the resolved rendezvous address and port.
// identity8: this host's identity bytes 0-7.
TUdpDatagramKind ClassifyUdpDatagram(const uint8_t *bytes, size_t length, bool fromRendezvous,
                                     const uint8_t *identity8);
