// Socket buffers take whatever sizes peers make them take: random appends,
// reads and consumes must keep the content, the zero byte and the bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/net/socket_buffer.h"

namespace {
void Check(const QSocketBuffer &buffer, const std::string &model)
{
    if (buffer.Length() != static_cast<int32_t>(model.size()) || buffer.Length() > buffer.Capacity())
        std::abort();
    if (std::memcmp(buffer.Data(), model.data(), model.size()) != 0 || buffer.Data()[buffer.Length()] != 0)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QSocketBuffer buffer(1024);
    std::string model;
    size_t pos = 0;
    while (pos + 2 <= size) {
        const uint8_t op = data[pos];
        const int32_t amount = static_cast<int32_t>(data[pos + 1]) * 97;
        pos += 2;
        switch (op % 4) {
        case 0: {
            std::string bytes(static_cast<size_t>(amount), static_cast<char>('a' + op % 26));
            if (buffer.Append(bytes.data(), amount))
                model += bytes;
            break;
        }
        case 1:
            buffer.Consume(amount, (op & 0x10) != 0);
            model.erase(0, static_cast<size_t>(amount));
            break;
        case 2: {
            if (!buffer.Reserve(amount))
                std::abort();
            int32_t read = amount / 2;
            if (read > 0) {
                std::memset(buffer.Tail(), 'r', static_cast<size_t>(read));
                buffer.Commit(read);
                model.append(static_cast<size_t>(read), 'r');
            }
            break;
        }
        default:
            buffer.Free();
            model.clear();
            break;
        }
        Check(buffer, model);
    }
    return 0;
}
