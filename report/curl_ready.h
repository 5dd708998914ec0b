#pragma once

// libcurl's global start-up, once per process before the first handle, as
// libcurl asks; false when it failed.
bool CurlReady();
