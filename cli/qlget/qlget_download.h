#pragma once
// One qlget download through the flat engine interface: prepares the output,
// creates or recovers the task, follows it to its end and shows progress.
#include "cli/qlget/qlget_options.h"
#include "cli/qlget/qlget_outcome.h"

TQlgetOutcome RunQlgetDownload(const TQlgetOptions &options);
