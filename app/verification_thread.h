#pragma once
#include "app/app_clock.h"
#include "app/app_file_system.h"
#include "app/package_manifest.h"
#include "app/verification_host.h"
#include "app/verification_status.h"
#include "engine/base/qthread.h"

// Starts the verification work; false when it cannot be started.
class IVerificationWorker {
public:
    virtual ~IVerificationWorker() = default;
    virtual bool Begin() = 0;
};

// The worker that runs verification and repair, so the front-end stays live.
// Stop (also run by the destructor) ends a running check at its next read or
// wait and joins it; the controller stops it before the engine goes.
class CVerificationThread : public QThread, public IVerificationWorker {
public:
    CVerificationThread(IVerificationHost &host, TVerificationStatus &status, const PackageManifest &manifest,
                        IAppFileSystem &files, IAppClock &clock);
    ~CVerificationThread() override;

    // Starts a check; false when the thread cannot be created.
    bool Begin() override;

    void Run() override;
    void Refresh() override {}

private:
    IVerificationHost &host;
    TVerificationStatus &status;
    const PackageManifest &manifest;
    IAppFileSystem &files;
    IAppClock &clock;
};
