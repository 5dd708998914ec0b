#include "report/report_fragment.h"

#include <utility>

#include "report/json_text.h"

namespace {
class FragmentWriter {
public:
    void Text(const char *name, const std::string &value)
    {
        out += ",\"";
        out += name;
        out += "\":\"";
        out += EscapeJsonString(value);
        out += '"';
    }
    void Number(const char *name, uint64_t value) { Text(name, std::to_string(value)); }
    std::string Take() { return std::move(out); }

private:
    std::string out;
};
} // namespace

std::string BuildReportFragment(const TReportContext &context, const TReportFields &fields,
                                const TReportDeltas &deltas)
{
    FragmentWriter w;
    w.Text("DVersion", kReportFormatVersion);
    w.Text("GameID", context.gameId);
    w.Text("AppVersion", context.appVersion);
    w.Text("GVersion", context.gVersion);
    w.Text("Dchannel", context.dchannel);
    w.Text("Serverip", fields.serverIp);
    w.Text("Httpresult", fields.httpResult);
    w.Number("Totaltime", fields.totalTime);
    w.Number("Intime", deltas.inTime);
    w.Number("Totalbytes", fields.totalBytes);
    w.Number("Intotalbytes", deltas.inTotalBytes);
    w.Number("Averagespeed", fields.averageSpeed);
    w.Text("Progress", fields.progress);
    w.Number("Httptotalbytes", fields.httpTotalBytes);
    w.Number("Inhttptotalbytes", deltas.inHttpTotalBytes);
    w.Number("Httpaveragespeed", fields.httpAverageSpeed);
    w.Number("P2ptotalbytes", fields.p2pTotalBytes);
    w.Number("Inp2ptotalbytes", deltas.inP2pTotalBytes);
    w.Number("P2paveragespeed", fields.p2pAverageSpeed);
    w.Text("Corruptpakid", std::to_string(fields.corruptPakId));
    w.Text("Filename", fields.fileName);
    w.Text("Url", fields.url);
    w.Text("Errormsg", fields.errorMsg);
    return w.Take();
}
