#pragma once

// The trim when a task's run ends: the buffer pools are cut down, and the
// socket layer forgets the host names it failed to resolve, so a later run
// asks again.
void TrimEngineBufferPoolsAtRunEnd();
