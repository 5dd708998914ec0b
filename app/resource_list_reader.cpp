#include "app/resource_list_reader.h"

#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"

CResourceListReader::CResourceListReader(TResourceListFetch fetch, IResourceListTarget &target)
    : fetch(std::move(fetch)), target(target)
{
}

CResourceListReader::~CResourceListReader()
{
    Stop();
}

bool CResourceListReader::Begin()
{
    return fetch && Start("ResourceList");
}

void CResourceListReader::Run()
{
    try {
        lastResult = Read();
    } catch (...) {
        lastResult = -3;
    }
}

int32_t CResourceListReader::Read()
{
    std::string text;
    if (!fetch(text, [this] { return StopRequested(); })) {
        EngineLogWrite("Seek res FAILED with XML content failed", LOG_CHANNEL_PEERS);
        return -1;
    }
    TResourceList list;
    if (ReadResourceList(text, list) != 0 || StopRequested())
        return -2;
    return target.ApplyResourceList(list);
}
