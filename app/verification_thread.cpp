#include "app/verification_thread.h"

#include "app/package_verifier.h"

CVerificationThread::CVerificationThread(IVerificationHost &host, TVerificationStatus &status,
                                         const PackageManifest &manifest, IAppFileSystem &files, IAppClock &clock)
    : host(host), status(status), manifest(manifest), files(files), clock(clock)
{
}

CVerificationThread::~CVerificationThread()
{
    Stop();
}

bool CVerificationThread::Begin()
{
    return Start("Md5Check");
}

void CVerificationThread::Run()
{
    CPackageVerifier verifier(host, status, manifest, files, clock, [this] { return CheckStop(); });
    verifier.Run();
}
