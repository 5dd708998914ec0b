#include "report/os_code.h"

namespace {
std::string LeadingDigits(const std::string &part)
{
    size_t n = 0;
    while (n < part.size() && part[n] >= '0' && part[n] <= '9')
        ++n;
    return part.substr(0, n);
}

std::string VersionDigits(const std::string &release)
{
    size_t dot = release.find('.');
    std::string major = LeadingDigits(release.substr(0, dot));
    if (major.empty())
        return "999";
    std::string minor = dot == std::string::npos ? std::string() : LeadingDigits(release.substr(dot + 1));
    return major + minor + "0";
}

bool IsChineseLocale(const std::string &locale)
{
    return locale.size() >= 2 && locale.compare(0, 2, "zh") == 0 &&
           (locale.size() == 2 || locale[2] == '_' || locale[2] == '.' || locale[2] == '@');
}
} // namespace

std::string ComposeOsCode(const TSystemSnapshot &snapshot)
{
    const std::string &machine = snapshot.kernel.machine;
    std::string code = VersionDigits(snapshot.kernel.release);
    code += (machine == "x86_64" || machine == "ia64") ? "64" : "32";
    code += IsChineseLocale(snapshot.localeName) ? "0" : "2";
    return code;
}
