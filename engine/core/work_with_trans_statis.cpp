#include "engine/core/work_with_trans_statis.h"

void TWorkWithTransStatis::Reset(bool release, bool full)
{
    TWorkWithPieces::Reset(release, full);
}
