#pragma once
#include <cstdint>

#include "app/package_manifest.h"

// The verification progress over the whole package, in hundredths of a
// percent, each file weighted by its size in whole MiB: files before
// checkIndex count as done, the file at checkIndex by checkProgress (above
// 9999 as done), later files as not started. When every file is below
// 1 MiB the files weigh the same instead of dividing by zero.
uint32_t GetCheckProgress(const PackageManifest &manifest, int32_t checkIndex, uint32_t checkProgress);
