#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/qmutex.h"
#include "report/machine_profile.h"

// What the download report needs of the statistics component.
class IDataStatisticsUser {
public:
    virtual ~IDataStatisticsUser() = default;
    // The report configuration ini; false for an empty path.
    virtual bool SetConfigPath(const std::string &path) = 0;
    // Adds an event to the pending batch; kEventAccepted or a refusal code.
    virtual int32_t QueueEvent(const std::string &code, const std::string &fragment, int32_t flags) = 0;
    // Posts the pending batch; true when an endpoint accepted it. The batch is
    // gone afterwards either way.
    virtual bool SubmitBatch() = 0;
    // The text that names this run to the collection server (the session id).
    virtual std::string Identification() const = 0;
};

enum : int32_t {
    kEventAccepted = 0,
    kEventEmpty = 1,          // code or fragment missing
    kEventBatchFull = 2,      // the 21st attempt since the last submission, or later
    kEventNoConfiguration = 3,
    kEventMissingKeyword = 4, // a name of "InputDataKeyWord" is not in the fragment
};

class CDataStatisticsImp : public IDataStatisticsUser {
public:
    static constexpr int32_t kMaxEventsPerBatch = 20;

    explicit CDataStatisticsImp(std::unique_ptr<CMachineProfile> profile);

    bool SetConfigPath(const std::string &path) override;
    int32_t QueueEvent(const std::string &code, const std::string &fragment, int32_t flags) override;
    bool SubmitBatch() override;
    std::string Identification() const override { return sessionId; }

private:
    struct PendingEvent {
        std::string code;
        std::string fragment;
        int32_t flags;
    };

    // The batch as JSON text: one element per pending event, null for one
    // whose info text lacks a name of "SubmitDataKeyWord".
    std::string BatchText();
    std::string InfoText(const PendingEvent &event);

    QTMutex guard;
    std::unique_ptr<CMachineProfile> profile;
    std::string configPath;
    std::vector<PendingEvent> pending;
    int32_t pendingAttempts = 0;
    const std::string sessionId;
    uint64_t sequence = 0;
};
