#pragma once
#include <cstdint>

// The engine's flat task interface: plain functions over opaque task handles
// and plain records, each returning a status code.

constexpr int32_t ENGINE_OK = 0;
constexpr int32_t ENGINE_INVALID_ARGUMENT = -101;
constexpr int32_t ENGINE_SOCKET_STARTUP_FAILED = -102;
constexpr int32_t ENGINE_DUPLICATE_TASK = -105;
constexpr int32_t ENGINE_UNKNOWN_TASK = -106;
constexpr int32_t ENGINE_TASK_FAILED = -107;
constexpr int32_t ENGINE_OUT_OF_MEMORY = -109;

constexpr uint32_t TASK_FLAG_FILE_PATH = 0x2;
constexpr uint32_t TASK_FLAG_STORE_MODE = 0x20;
constexpr uint32_t TASK_FLAG_BT = 0x10000;
constexpr uint32_t TASK_FLAG_P2SP = 0x1000000;

enum TTaskState : int32_t {
    TASK_STATE_NONE = 0,
    TASK_STATE_COMPLETE = 20206,
    TASK_STATE_SIZE_TIMEOUT = 20209,
    TASK_STATE_DISK_FULL = 20210,
    TASK_STATE_BAD_TORRENT = 20211,
    TASK_STATE_NO_SOURCE = 20214,
    TASK_STATE_FILE_OPEN_FAILED = 20215,
    TASK_STATE_HOST_NOT_FOUND = 20216,
    // Every source left sends data that fails the torrent's hashes.
    TASK_STATE_DATA_MISMATCH = 20217,
};

// Opaque: a handle is an id that is never reused, so a stale handle can never
// name a task created later.
using TTaskHandle = void *;

constexpr int kEnginePathChars = 4096;

struct TTaskParam {
    uint32_t userState;               // the caller's; the engine never touches it
    char p2spUrl[kEnginePathChars];   // main source of a P2SP task
    const char *sourceList;           // one source per line (CR, LF or CR LF)
    char targetPath[kEnginePathChars];
    char resumePath[kEnginePathChars];
    uint32_t flags;
    TTaskHandle hTask;                // out
    // Speed limits in KB/s (0: none), in force before the worker's first
    // byte; SetTaskSpeedLimit changes them later.
    int32_t downloadLimitKBps;
    int32_t uploadLimitKBps;
};

// Why a task ended in TASK_STATE_DATA_MISMATCH: the server whose data failed
// and the piece that failed most often from it.
struct TTaskDataMismatch {
    char host[256];
    int32_t piece;
    int32_t failures;
};

struct TTaskInfo {
    char fileName[kEnginePathChars];
    uint32_t progress; // ten-thousandths
    int32_t state;
    int32_t speed;
    int32_t secondsLeft;
    uint32_t totalKB;
    uint64_t httpBytes;
    uint64_t peerBytes;
    uint64_t doneBytes;
};

// TTaskInfo and what a front-end needs to explain a run: the bytes the target
// occupies on disk, the file count, the seconds the worker has run, the
// times the data was begun again because a source's file changed, and the
// last failure of a source ("host:port: what", with a serial that grows at
// every failure and a count of the sources given up).
struct TTaskDetail {
    TTaskInfo info;
    int64_t diskBytes;
    int32_t fileCount;
    uint32_t runSeconds;
    uint32_t dataRestarts;
    char sourceFailure[512];
    uint32_t sourceFailureSerial;
    uint32_t sourcesGivenUp;
};

int32_t InitEngine();
int32_t UninitEngine();
int32_t CreateDownloadTask(TTaskParam *param);
int32_t RecoverDownloadTask(TTaskParam *param, bool force);
int32_t StopDownloadTask(TTaskHandle handle, bool reset);
int32_t StopDownloadTasks(const TTaskHandle *handles, int32_t count, bool reset, int32_t *results);
int32_t ResumeDownloadTask(TTaskHandle handle);
int32_t GetTaskInfo(TTaskHandle handle, TTaskInfo *info);
int32_t GetTaskDetail(TTaskHandle handle, TTaskDetail *detail);
// Zeroes *out (piece -1) unless the task's last run ended in
// TASK_STATE_DATA_MISMATCH.
int32_t GetTaskDataMismatch(TTaskHandle handle, TTaskDataMismatch *out);
int32_t IsTaskComplete(TTaskHandle handle, int32_t *out);
// *out = 1 while the task's worker runs; a front-end tells a worker that
// stopped on its own (for example after 900 s without data) from a live one.
int32_t IsTaskRunning(TTaskHandle handle, int32_t *out);
int32_t SetTaskSpeedLimit(TTaskHandle handle, int32_t kind, int32_t value);
int32_t SetTaskPeerLimits(TTaskHandle handle, int32_t maxServers, int32_t maxPeers);
int32_t GetTaskPieceMap(TTaskHandle handle, void *buf, int32_t len);
int32_t GetTaskPieceMapSize(TTaskHandle handle);
int32_t AddTaskMirror(TTaskHandle handle, const char *mirrorUrls, const char *hostNames);
int32_t ClearTaskMirrors(TTaskHandle handle);
void EnableHttpWrap(int32_t on);
int32_t SetListenPort(int32_t port);
int32_t EnableListen(bool on);
// LAN discovery of peers, off until switched on; QUARROWLIGHT_LAN ("off", or
// the IPv4 address of the interface to use) overrides the choice.
int32_t EnableLanDiscovery(bool on);
uint64_t GetDiskFreeBytes(const char *path);
int64_t GetFileDiskSize(const char *path);
int32_t ShowMessageAsync(void *window, const char *text, const char *caption, uint32_t type);

// --- reading a task's data and further task queries ---

// ReadTaskData: the worker is not running or stopped while the read waited.
constexpr int32_t ENGINE_READ_STOPPED = -5;
// ReadTaskData: the bytes were not there within kEngineReadWaitMs.
constexpr int32_t ENGINE_READ_TIMED_OUT = -7;
constexpr uint32_t kEngineReadWaitMs = 3000;

// Reads verified bytes of the task's data from offset: those present from
// there on without a gap, at most length, so a read may come back short. 0 at
// the end of the data; -101 for a null buffer, a negative offset or length,
// or an offset past the end. While the byte at offset is missing the read
// waits, and the task fetches its piece first; -7 when it did not arrive in
// time, -5 when the worker is not running or stops meanwhile. The engine lock
// is not held while the read waits.
int32_t ReadTaskData(TTaskHandle handle, int64_t offset, void *buffer, int32_t length);

struct TTaskTorrentInfo {
    uint64_t totalSize;
    int32_t pieceCount;
    int32_t pieceLength;
    char infoHash[41]; // 40 lower-case hex digits; empty without metainfo
    char name[kEnginePathChars];
};
int32_t GetTaskTorrentInfo(TTaskHandle handle, TTaskTorrentInfo *info);

// The smoothed download speed (bytes per second) and the estimated seconds
// left, as GetTaskInfo reports them.
int32_t GetTaskSpeed(TTaskHandle handle, int32_t *bytesPerSecond);
int32_t GetTaskSecondsLeft(TTaskHandle handle, int32_t *seconds);

// Counters of the task's published status, for GetTaskCounter.
enum TTaskCounter : int32_t {
    TASK_COUNTER_TOTAL_BYTES = 0,
    TASK_COUNTER_DONE_BYTES = 1,
    TASK_COUNTER_HTTP_BYTES = 2,
    TASK_COUNTER_PEER_BYTES = 3,
    TASK_COUNTER_PIECE_COUNT = 4,
    TASK_COUNTER_PIECES_DONE = 5,
    TASK_COUNTER_DISK_BYTES = 6,
};
// -101 for an unknown counter or a null out.
int32_t GetTaskCounter(TTaskHandle handle, int32_t counter, int64_t *value);

// Appends one line (no line breaks; -101 otherwise) to the task's note list.
int32_t AppendTaskNote(TTaskHandle handle, const char *line);
// Copies the note list, lines ended by CR LF, as a zero-terminated text of
// at most len - 1 characters; returns the list's full length, so a caller
// whose buffer was short can ask again.
int32_t GetTaskNotes(TTaskHandle handle, char *buffer, int32_t len);

// The task's files, in the order of its data; 0 files until the data file
// is known.
struct TTaskFileInfo {
    char path[kEnginePathChars]; // the final name
    int64_t size;
    int64_t offset; // where the file starts in the task's data
};
int32_t GetTaskFileCount(TTaskHandle handle, int32_t *count);
// -101 for a file index out of range or a null out.
int32_t GetTaskFileSize(TTaskHandle handle, int32_t file, int64_t *size);
int32_t GetTaskFileInfo(TTaskHandle handle, int32_t file, TTaskFileInfo *info);
