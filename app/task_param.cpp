#include "app/task_param.h"

#include <cstring>

namespace {

bool CopyField(char (&field)[kEnginePathChars], const std::string &text)
{
    if (text.size() >= sizeof field || text.find('\0') != std::string::npos)
        return false;
    std::memcpy(field, text.c_str(), text.size() + 1);
    return true;
}

} // namespace

bool FillTaskParam(TTaskParam &param, const TTaskTexts &texts)
{
    const uint32_t userState = param.userState;
    std::memset(&param, 0, sizeof param);
    param.userState = userState;
    param.sourceList = texts.sourceList;
    param.flags = TASK_FLAG_FILE_PATH;
    if (!CopyField(param.resumePath, texts.resumePath))
        CopyField(param.resumePath, texts.defaultResumePath);
    if (!texts.torrentPath.empty() && CopyField(param.p2spUrl, "file://" + texts.torrentPath))
        param.flags |= TASK_FLAG_P2SP;
    return CopyField(param.targetPath, texts.targetPath);
}
