#include "cli/qlget/qlget_outcome.h"

#include "engine/core/engine_interface.h"

TQlgetOutcome OutcomeOfStoppedTask(int32_t state)
{
    switch (state) {
    case TASK_STATE_SIZE_TIMEOUT:
        return {QLGET_SIZE_UNKNOWN, "no server reported the file's size within 45 seconds"};
    case TASK_STATE_DISK_FULL:
        return {QLGET_DISK_FULL, "the disk is full"};
    case TASK_STATE_BAD_TORRENT:
        return {QLGET_BAD_TORRENT, "the torrent cannot be read or is not a torrent"};
    case TASK_STATE_NO_SOURCE:
        return {QLGET_NO_SOURCE, "no source is left and no data arrived for 15 seconds"};
    case TASK_STATE_FILE_OPEN_FAILED:
        return {QLGET_FILE_OPEN_FAILED, "the output file cannot be opened"};
    case TASK_STATE_DATA_MISMATCH:
        return {QLGET_DATA_MISMATCH, "the data from the servers does not match the torrent"};
    case TASK_STATE_HOST_NOT_FOUND:
        return {QLGET_HOST_NOT_FOUND, "a source's host name could not be resolved and no other source is left"};
    default:
        return {QLGET_STALLED, "the download stopped: no data arrived for 15 minutes"};
    }
}

TQlgetOutcome DiskFullOutcome(const std::string &folder, uint64_t fileBytes, uint64_t heldBytes, uint64_t freeBytes)
{
    std::string message = "the disk is full: " + folder + " has " + std::to_string(freeBytes) + " bytes free";
    uint64_t available = heldBytes + freeBytes;
    if (fileBytes > available)
        message += ", " + std::to_string(fileBytes - available) + " more bytes are needed";
    return {QLGET_DISK_FULL, message};
}

TQlgetOutcome DataMismatchOutcome(const std::string &host, int32_t piece, int32_t failures)
{
    return {QLGET_DATA_MISMATCH, "the data from " + host + " does not match the torrent: piece " + std::to_string(piece) +
                                     " failed " + std::to_string(failures) + " times"};
}

bool IsFinalFailureState(int32_t state)
{
    return state == TASK_STATE_DISK_FULL || state == TASK_STATE_BAD_TORRENT || state == TASK_STATE_FILE_OPEN_FAILED;
}
