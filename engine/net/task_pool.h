#pragma once
#include <cstdint>
#include <string>

class TPeerId;
class TPeerObject;

// What a peer asks of its task's peer pool: the address operations, and the
// phase a source's answers put the task in.
class ITaskPool {
public:
    // Adds a parsed address (a redirect target) as a candidate.
    virtual bool AddAddress(TPeerId *address) = 0;
    // Backs off from an address after its connection failed.
    virtual void Penalize(TPeerId *address, TPeerObject *connection, int32_t amount) = 0;
    // Drops the address from the candidates for good.
    virtual void RemoveAddress(TPeerId *address) = 0;
    // Notes what a source did wrong, worded for the user ("HTTP 500
    // Internal Server Error"); givenUp when the source is dropped for good.
    virtual void SourceFailed(TPeerId *address, const std::string &why, bool givenUp) = 0;
    // A source's host did not resolve: state 20216.
    virtual void HostNotFound() = 0;
    virtual void SetPhase(int32_t phase) = 0;

protected:
    ~ITaskPool() = default;
};
