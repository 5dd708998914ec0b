#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "engine/net/ftp_reply.h"
#include "engine/net/peer_object.h"

// A task's FTP source, in passive mode. The control connection logs in,
// changes to the file's folder, switches to binary and asks for the size;
// then each transfer is PASV, REST at the next wanted block and RETR, read
// on a data connection to the control connection's own server and cut into
// 16 KiB blocks in order. When the next wanted block lies behind the stream
// or more than 80 KiB ahead of it, the data connection is closed and, after
// the server's completion reply, a new transfer starts at the right offset.
// In whole-content mode the file is read whole into memory.
//
// Before a byte is stored: replies are framed one at a time and bounded, the
// size must be a plain positive number that matches the task's, the data
// connection never goes to the host a 227 names (only its port is used), and
// reads stay within the task's download allowance.
class TFtpPeer : public TPeerObject {
public:
    // Where the command sequence stands; each step but the transfer waits
    // for one reply.
    enum TStep : int32_t {
        STEP_TRANSFER = 0,
        STEP_GREETING = 1,
        STEP_USER = 2,
        STEP_PASSWORD = 3,
        STEP_DIRECTORY = 4,
        // Binary mode comes before SIZE: servers refuse SIZE in ASCII mode.
        STEP_BINARY = 5,
        STEP_SIZE = 6,
        STEP_PASSIVE = 7,
        STEP_RESTART = 8,
        STEP_RETRIEVE = 9,
        STEP_COMPLETION = 11,
    };
    enum TPhase : int32_t {
        PHASE_DUE = 0,     // the step's command is to be sent
        PHASE_SENDING = 1, // it sits in the send buffer
        PHASE_WAITING = 2, // waiting for the reply, or for data
    };

    // Farthest the data stream is read ahead, discarding, instead of moved.
    static constexpr int64_t kSkipReach = 81920;
    // Largest file read whole into memory.
    static constexpr int64_t kMaxWholeContent = 16 * 1024 * 1024;
    // Largest single read from the data connection.
    static constexpr int32_t kReadChunk = 256 * 1024;

    explicit TFtpPeer(IPeerTask *task);

    bool ReadInput() override;
    bool FlushOutput() override;
    bool PlanRequests() override;
    void Reset() override;
    bool AttachAddress(TPeerId *address) override;
    bool IsTimedOut() override;
    void ReleaseRange() override;
    int32_t WaitHandle() const override;
    bool AwaitsReply() const override;

    // Bytes to discard from the stream at position before the block that
    // starts at wanted; -1 when it lies behind or beyond kSkipReach.
    static int64_t SkipTo(int64_t position, int64_t wanted);

    int32_t Step() const { return step; }
    int32_t Phase() const { return phase; }
    int64_t Position() const { return position; }
    int64_t Skip() const { return skip; }
    const QSocket *DataConnection() const { return data.get(); }

protected:
    ~TFtpPeer() override = default;
    uint64_t TrafficIn() const override;

private:
    bool WholeContent() const;
    // The command of the current step into the send buffer; phase 1.
    bool SendStepCommand();
    bool Send(const std::string &verb, const std::string &argument);
    // Takes one reply off the control connection: 1 taken, 0 none yet,
    // -1 the connection failed or sent something that is not a reply.
    int32_t TakeReply(TFtpReply &reply);
    // What any reply says about the address: 4xx lowers its allowance, 5xx
    // backs off from it.
    void NoteReply(int32_t code);
    bool ReadReply();
    bool Advance(const TFtpReply &reply);
    bool LearnSize(const std::string &text);
    bool OpenData(const std::string &text);
    bool ReadData();
    // Skips and delivers from the buffered stream; false when a block was
    // refused.
    bool DeliverData();
    bool ReadWholeData(int32_t budget);
    // Appends the buffered stream to the address's content.
    bool TakeContent();
    void CloseData();
    // Ends the transfer: the data connection goes and the server's
    // completion reply is awaited.
    void AwaitCompletion();
    // Most bytes to read now under the task's download allowance.
    int32_t ReadBudget() const;
    // Closes the control connection and backs off from the address; false.
    bool Refuse(const std::string &why, int32_t penalty);

    int32_t step = STEP_GREETING;
    int32_t phase = PHASE_WAITING;
    std::unique_ptr<QSocket> data;
    int64_t position = 0;
    int64_t skip = 0;
};
