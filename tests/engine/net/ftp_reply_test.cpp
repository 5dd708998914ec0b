#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/net/ftp_command.h"
#include "engine/net/ftp_peer.h"
#include "engine/net/ftp_reply.h"
#include "engine/net/ipv4_address.h"

namespace {

struct Framed {
    TFtpFrame result;
    TFtpReply reply;
    int32_t used = 0;
};

Framed Frame(const std::string &bytes)
{
    Framed f;
    f.result = FrameFtpReply(bytes.data(), static_cast<int32_t>(bytes.size()), f.reply, f.used);
    return f;
}

// Frames a stream as it would arrive cut at split: every reply in order,
// each taken only once it is whole, and nothing taken early.
std::vector<TFtpReply> FrameStream(const std::string &stream, size_t split)
{
    std::vector<TFtpReply> replies;
    std::string buffer;
    for (const std::string &piece : {stream.substr(0, split), stream.substr(split)}) {
        buffer += piece;
        for (;;) {
            Framed f = Frame(buffer);
            if (f.result != TFtpFrame::Complete)
                break;
            replies.push_back(f.reply);
            buffer.erase(0, static_cast<size_t>(f.used));
        }
    }
    EXPECT_TRUE(buffer.empty()) << "left over: " << buffer;
    return replies;
}

} // namespace

TEST(FtpReplyFrame, EverySplitOfBackToBackAndMultiLineRepliesFramesTheSameReplies)
{
    struct Case {
        std::string stream;
        std::vector<std::pair<int32_t, std::string>> replies;
    } cases[] = {
        // A short transfer's opening and completion in one read.
        {"150 Opening BINARY mode\r\n226 Transfer complete.\r\n", {{150, "Opening BINARY mode"}, {226, "Transfer complete."}}},
        // A banner: the continuation lines, even one whose fourth
        // character is a space, do not end it; only "220 " does.
        {"220-Welcome\r\nHi! there\r\n220-more\r\n 220 indented\r\n220 ready\r\n331 Password\r\n",
         {{220, "Welcome"}, {331, "Password"}}},
        // Empty text, a bare code and bare line feeds.
        {"220 \r\n230\r\n250 ok\n", {{220, ""}, {230, ""}, {250, "ok"}}},
    };
    for (const Case &c : cases) {
        for (size_t split = 0; split <= c.stream.size(); ++split) {
            SCOPED_TRACE(c.stream.substr(0, split) + "|" + c.stream.substr(split));
            std::vector<TFtpReply> replies = FrameStream(c.stream, split);
            ASSERT_EQ(replies.size(), c.replies.size());
            for (size_t i = 0; i < replies.size(); ++i) {
                EXPECT_EQ(replies[i].code, c.replies[i].first);
                EXPECT_EQ(replies[i].text, c.replies[i].second);
            }
        }
    }
}

TEST(FtpReplyFrame, IncompleteWaitsAndGarbageOrOverlongFails)
{
    EXPECT_EQ(Frame("").result, TFtpFrame::More);
    EXPECT_EQ(Frame("22").result, TFtpFrame::More);
    EXPECT_EQ(Frame("220 ready").result, TFtpFrame::More);
    EXPECT_EQ(Frame("220-first\r\n220 last").result, TFtpFrame::More);
    // A line that ends before the reply's code has.
    EXPECT_EQ(Frame("22\r\n").result, TFtpFrame::Malformed);
    for (const std::string &bad : {std::string("HTTP/1.1 200 OK\r\n"), std::string("099 low\r\n"),
                                   std::string("600 high\r\n"), std::string("2x0 x\r\n"), std::string("220x\r\n"),
                                   std::string("2\0" "0 x\r\n", 7)})
        EXPECT_EQ(Frame(bad).result, TFtpFrame::Malformed) << bad;
    EXPECT_EQ(Frame(std::string("220-a\r\n") + std::string(kFtpMaxReply, 'x')).result, TFtpFrame::Malformed);
    EXPECT_EQ(Frame("220 " + std::string(kFtpMaxReply, 'x')).result, TFtpFrame::Malformed);
    std::string longest = "220-" + std::string(kFtpMaxReply - 14, 'x') + "\r\n220 ok\r\n";
    EXPECT_EQ(Frame(longest.substr(0, kFtpMaxReply)).result, TFtpFrame::Complete);
}

TEST(FtpReplyNumbers, SizeIsAPlainPositiveNumber)
{
    EXPECT_EQ(ParseFtpSize("8000000"), 8000000);
    EXPECT_EQ(ParseFtpSize("9223372036854775807"), INT64_MAX);
    for (const char *bad : {"", "0", "-5", "12 bytes", " 12", "9223372036854775808", "99999999999999999999999", "1e6"})
        EXPECT_EQ(ParseFtpSize(bad), -1) << bad;
}

TEST(FtpReplyNumbers, PassiveReplyGivesHostAndPort)
{
    uint32_t host = 0;
    EXPECT_EQ(ParsePassiveReply("Entering Passive Mode (10,0,0,1,19,137).", host), 5001);
    EXPECT_EQ(host, HostToNetwork32(0x0A000001u));
    EXPECT_EQ(ParsePassiveReply("Entering passive mode 127,0,0,1,156,105", host), 40041);
    EXPECT_EQ(host, HostToNetwork32(0x7F000001u));
    EXPECT_EQ(ParsePassiveReply("=127, 0, 0, 2, 0, 21.", host), 21);
    for (const char *bad : {"(10,0,0,1,256,1)", "(10,0,0,1,19)", "(10,0,0,1,19,137,5)", "(300,0,0,1,1,1)",
                            "(10,0,0,1,0,0)", "(10,0,0,1,19,137", "(10,0,0,1,x,1)", "(10,,0,0,1,19,137)",
                            "(0010,0,0,1,19,137)", "no numbers", ""})
        EXPECT_EQ(ParsePassiveReply(bad, host), -1) << bad;
}

TEST(FtpCommandText, FolderNameAndSafeLines)
{
    EXPECT_EQ(FtpDirectoryOf("/pub/f.bin"), "/pub");
    EXPECT_EQ(FtpDirectoryOf("/f.bin"), "/");
    EXPECT_EQ(FtpDirectoryOf("/a/b/c.bin"), "/a/b");
    EXPECT_EQ(FtpFileNameOf("/pub/f.bin"), "f.bin");
    EXPECT_EQ(FtpFileNameOf("/pub/"), "");
    EXPECT_EQ(FtpCommand("rest", "98304"), "rest 98304\r\n");
    EXPECT_EQ(FtpCommand("pasv", ""), "pasv\r\n");
    for (const std::string &bad : {std::string("a\r\nDELE x"), std::string("a\nb"), std::string("a\0b", 3)})
        EXPECT_EQ(FtpCommand("retr", bad), "");
}

TEST(FtpStreamReach, NearBlocksAreSkippedToAndOthersMoveTheStream)
{
    const int64_t at = 5 * 16384;
    EXPECT_EQ(TFtpPeer::SkipTo(at, at), 0);
    EXPECT_EQ(TFtpPeer::SkipTo(at, at + 80 * 1024), 81920) << "80 KiB ahead is read and discarded";
    EXPECT_EQ(TFtpPeer::SkipTo(at, at + 96 * 1024), -1);
    EXPECT_EQ(TFtpPeer::SkipTo(at, at - 16384), -1);
}
