// Texts from peers, servers and torrents go into the report's JSON; whatever
// they hold, the event object must stay one valid JSON object.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <json/reader.h>

#include "report/report_fragment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    // Split at NUL bytes into the texts of one report.
    std::string parts[6];
    size_t field = 0;
    for (char c : input) {
        if (c == '\0' && field < 5)
            ++field;
        else
            parts[field] += c;
    }
    TReportContext context{parts[0], "2.0.0.1", "v1.0.1.92", "1"};
    TReportFields fields;
    fields.serverIp = parts[1];
    fields.progress = parts[2];
    fields.fileName = parts[3];
    fields.url = parts[4];
    fields.errorMsg = parts[5];
    std::string object = "{\"MachId\":\"0\"" + BuildReportFragment(context, fields, TReportDeltas{}) + "}";

    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    builder["rejectDupKeys"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    // Duplicate names are refused, so a text that forged a member of its own
    // fails here as well as one that broke the syntax.
    constexpr unsigned kMembers = 24;
    if (!reader->parse(object.data(), object.data() + object.size(), &value, &errors) || !value.isObject() ||
        value.size() != kMembers)
        __builtin_trap();
    return 0;
}
