#pragma once
#include <cstdint>

// The log's channels: every line is written on one, and the channel is the
// number the log file shows beside it. Readers of collected logs filter by
// these numbers, so they never change.
enum : int32_t {
    LOG_CHANNEL_TASK_STATE = 2,   // task restarts, the task state file
    LOG_CHANNEL_PORT_MAPPING = 3, // the gateway search and the listen port's mapping
    LOG_CHANNEL_FRONT_END = 7,    // the front-end's own files
    LOG_CHANNEL_INVALID_IP = 13,
    LOG_CHANNEL_CLOCK = 22,
    LOG_CHANNEL_DOWNLOAD = 23,    // task starts and completions, final names
    LOG_CHANNEL_HTTP = 25,
    LOG_CHANNEL_DATA_UPLOAD = 28, // the download report
    LOG_CHANNEL_INVALID_HOST = 29,
    LOG_CHANNEL_CONTROLLER = 34,  // the package controller
    LOG_CHANNEL_PEERS = 38,
};
