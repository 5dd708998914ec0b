#include "app/digest_text.h"

bool IsMd5Text(std::string_view text, bool lowerOnly)
{
    if (text.size() != 32)
        return false;
    for (char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool lower = c >= 'a' && c <= 'f';
        const bool upper = c >= 'A' && c <= 'F';
        if (!digit && !lower && !(upper && !lowerOnly))
            return false;
    }
    return true;
}
