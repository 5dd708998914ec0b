#include "platform/code_page.h"

#include <cerrno>
#include <iconv.h>

namespace platform {

std::string CodePageCharset(int32_t codePage)
{
    switch (codePage) {
    case 1200:
        return "UTF-16LE";
    case 1201:
        return "UTF-16BE";
    case 20127:
        return "ASCII";
    case 20932:
        return "EUC-JP";
    case 20936:
        return "GB2312";
    case 51949:
        return "EUC-KR";
    case 54936:
        return "GB18030";
    case 65001:
        return "UTF-8";
    default:
        break;
    }
    if (codePage >= 28591 && codePage <= 28599)
        return "ISO-8859-" + std::to_string(codePage - 28590);
    // glibc knows the Windows and DOS pages by their numbers: CP936 is GBK,
    // CP950 Big5, CP949 UHC, CP932 Shift-JIS with the Microsoft extensions.
    return "CP" + std::to_string(codePage);
}

bool CodePageToUtf8(int32_t codePage, std::string_view bytes, std::string &out)
{
    out.clear();
    if (codePage <= 0)
        return false;
    iconv_t cd = iconv_open("UTF-8", CodePageCharset(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    // Four output bytes per input byte cover every legacy page; grow if not.
    std::string buffer(bytes.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = bytes.size();
    size_t produced = 0;
    bool ok = true;
    while (inLeft > 0) {
        char *outPos = buffer.data() + produced;
        size_t outLeft = buffer.size() - produced;
        size_t r = iconv(cd, &in, &inLeft, &outPos, &outLeft);
        produced = buffer.size() - outLeft;
        if (r != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        ok = false; // EILSEQ or EINVAL: not text of that page
        break;
    }
    if (ok) {
        // Flush any shift state the decoder still holds.
        buffer.resize(produced + 16);
        char *outPos = buffer.data() + produced;
        size_t outLeft = buffer.size() - produced;
        ok = iconv(cd, nullptr, nullptr, &outPos, &outLeft) != static_cast<size_t>(-1);
        produced = buffer.size() - outLeft;
    }
    iconv_close(cd);
    if (!ok)
        return false;
    buffer.resize(produced);
    out = std::move(buffer);
    return true;
}

} // namespace platform
