#pragma once
#include "app/verification_host.h"
#include "app/verification_status.h"
#include "app/verification_thread.h"

// The Install command's verification request, by package state: in state 8
// a check starts (state 10, progress reset, the start keys written, the
// worker started; back to 8 when it cannot start); in 12 the installer is
// launched as verified; the other states answer with a message.
void StartVerification(IVerificationHost &host, IVerificationWorker &worker, TVerificationStatus &status,
                       bool installAfter);
