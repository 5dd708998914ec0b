#pragma once
#include <cstdint>
#include <vector>

#include "engine/base/qthread.h"
#include "report/data_statistics.h"
#include "report/report_fragment.h"
#include "report/report_queue.h"

// The reporting thread: once a second it hands the queued reports to the
// statistics component and has it post them as one batch. Asked to stop, it
// first delivers what is still queued.
class DataUpload : public QThread {
public:
    // component may be null (then nothing is ever handed over); configured
    // says whether the component was given a configuration.
    DataUpload(IDataStatisticsUser *component, bool configured, const TReportContext &context);
    ~DataUpload() override;

    void Run() override;
    void Refresh() override {}

    // Configured, with GameID, AppVersion and GVersion all given.
    bool Ready() const;
    bool HasComponent() const { return component != nullptr; }
    const TReportContext &Context() const { return context; }

    // One round on reports taken from the queue: hand each over, then submit
    // when at least one was handed.
    void Deliver(const std::vector<TQueuedReport> &reports);

private:
    IDataStatisticsUser *const component;
    const bool configured;
    const TReportContext context;
    uint32_t handedCount = 0;
};
