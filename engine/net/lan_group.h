#pragma once

// The LAN discovery multicast membership, as the listening service drives it:
// joined on a refresh while it is not, left when the service stops. LAN
// discovery registers its implementation while the engine runs; without one
// there is nothing to join.
class QLanGroup {
public:
    virtual ~QLanGroup() = default;
    virtual bool IsJoined() = 0;
    // False when the multicast sockets could not be opened.
    virtual bool Join() = 0;
    virtual void Leave() = 0;
};

// The registrant keeps the group alive until it unregisters (nullptr).
void SetLanGroup(QLanGroup *group);
QLanGroup *LanGroup();
