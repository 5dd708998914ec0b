#include "engine/base/reserved_host.h"

#include <strings.h>

bool IsReservedHostName(const std::string &host)
{
    static const std::string kDomain = "invalid";
    std::string name(host);
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    if (name.size() < kDomain.size())
        return false;
    const size_t at = name.size() - kDomain.size();
    return strcasecmp(name.c_str() + at, kDomain.c_str()) == 0 && (at == 0 || name[at - 1] == '.');
}
