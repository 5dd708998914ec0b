#include "engine/core/candidate_rules.h"

#include <gtest/gtest.h>

#include "engine/net/peer_id.h"

namespace {

class Candidate {
public:
    explicit Candidate(int32_t kind) : id(new TPeerId)
    {
        id->kind = kind;
        id->parsed = true;
    }
    ~Candidate() { id->Release(); }
    TPeerId &operator*() const { return *id; }
    TPeerId *operator->() const { return id; }
    TPeerId *id;
};

TEST(CandidateReadyTest, ServerBackOffShrinksWithItsOutcomes)
{
    Candidate many(PEER_KIND_HTTP);
    many->outcomes = 12;
    many->backOff = 100;
    EXPECT_FALSE(CandidateReady(*many, false, 0));
    EXPECT_EQ(many->backOff, 9) << "divided by 10, then counted down";

    Candidate few(PEER_KIND_HTTP);
    few->outcomes = 3;
    few->backOff = 100;
    EXPECT_FALSE(CandidateReady(*few, false, 0));
    EXPECT_EQ(few->backOff, 19) << "divided by 5, then counted down";

    Candidate proven(PEER_KIND_HTTP);
    proven->outcomes = 16;
    proven->backOff = 1000;
    EXPECT_TRUE(CandidateReady(*proven, false, 0));

    Candidate stalled(PEER_KIND_FTP);
    stalled->backOff = 50;
    EXPECT_FALSE(CandidateReady(*stalled, true, 0));
    EXPECT_EQ(stalled->backOff, 4) << "a task at speed 0 retries sooner";
}

TEST(CandidateReadyTest, OpenConnectionsLimitServersAndPeers)
{
    Candidate server(PEER_KIND_HTTP);
    server->allowance = 2;
    server->useCount = 1;
    EXPECT_FALSE(CandidateReady(*server, false, 0)) << "a second connection waits for the size";
    server->Parts().serverSize = 1000;
    EXPECT_TRUE(CandidateReady(*server, false, 0));
    server->useCount = 2;
    EXPECT_FALSE(CandidateReady(*server, false, 0));

    Candidate peer(PEER_KIND_BT);
    peer->useCount = 1;
    EXPECT_FALSE(CandidateReady(*peer, false, 0));

    Candidate unparsed(PEER_KIND_HTTP);
    unparsed->parsed = false;
    EXPECT_FALSE(CandidateReady(*unparsed, false, 0));
}

TEST(CandidateReadyTest, TrackerWaitsTenMinutesBetweenConnections)
{
    Candidate tracker(PEER_KIND_TRACKER);
    tracker->lastConnect = 1000;
    EXPECT_FALSE(CandidateReady(*tracker, false, 1599));
    EXPECT_TRUE(CandidateReady(*tracker, false, 1600));
    // A longer interval asked for by the tracker is kept; a shorter one is not.
    tracker->announceInterval = 1800;
    EXPECT_FALSE(CandidateReady(*tracker, false, 2799));
    EXPECT_TRUE(CandidateReady(*tracker, false, 2800));
    tracker->announceInterval = 100;
    EXPECT_TRUE(CandidateReady(*tracker, false, 1600));
}

TEST(CandidateOrderTest, OriginFirstThenTheRecord)
{
    Candidate a(PEER_KIND_HTTP);
    Candidate b(PEER_KIND_HTTP);
    a->origin = 29;
    b->origin = 19;
    EXPECT_TRUE(CandidateBefore(*a, *b));
    b->origin = 29;
    b->outcomes = 1;
    EXPECT_TRUE(CandidateBefore(*b, *a));
    a->outcomes = 1;
    a->failures = 2;
    EXPECT_TRUE(CandidateBefore(*b, *a));
    a->failures = 0;
    b->failures = 0;
    a->attempts = 3;
    EXPECT_TRUE(CandidateBefore(*b, *a));
    a->attempts = 0;
    a->backOff = 5;
    EXPECT_TRUE(CandidateBefore(*b, *a));
    EXPECT_FALSE(CandidateBefore(*a, *a));
}

TEST(RoomForPeersTest, RoomStopsShortOfTheHalfOpenCap)
{
    EXPECT_EQ(RoomForPeers(32, 52, 10, 0, false), 16);
    EXPECT_EQ(RoomForPeers(32, 52, 45, 0, false), 7);
    EXPECT_EQ(RoomForPeers(32, 200, 10, 0, false), 32);
    EXPECT_EQ(RoomForPeers(32, 200, 10, 0, true), 16);
    EXPECT_EQ(RoomForPeers(8, 52, 10, 6, false), 9) << "cap 16, six already establishing";
    EXPECT_EQ(RoomForPeers(8, 52, 10, 20, false), 0);
}

} // namespace
