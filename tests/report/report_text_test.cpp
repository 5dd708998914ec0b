#include "report/form_encoding.h"
#include "report/json_text.h"
#include "report/report_fragment.h"

#include <gtest/gtest.h>

#include "collection_server_double.h"

namespace {

TEST(FormEncoding, LettersAndDigitsStayBlankBecomesUnderscore)
{
    EXPECT_EQ(FormEncode("AZaz09"), "AZaz09");
    EXPECT_EQ(FormEncode("disk full"), "disk_full");
    EXPECT_EQ(FormEncode("_-.~{\"}%+"), "%5F%2D%2E%7E%7B%22%7D%25%2B");
    EXPECT_EQ(FormEncode(std::string("\0\n\xff", 3)), "%00%0A%FF");
}

TEST(FormEncoding, ThreeByteCharacterBecomesThreeEscapes)
{
    EXPECT_EQ(FormEncode("磁盘"), "%E7%A3%81%E7%9B%98");
}

TEST(JsonText, EscapesQuotesBackslashesAndControls)
{
    EXPECT_EQ(EscapeJsonString("a\"b\\c"), "a\\\"b\\\\c");
    EXPECT_EQ(EscapeJsonString("l1\nl2\r\t\b\f"), "l1\\nl2\\r\\t\\b\\f");
    EXPECT_EQ(EscapeJsonString(std::string("\x01\x1f\0", 3)), "\\u0001\\u001f\\u0000");
}

TEST(JsonText, PlainTextStaysByteIdentical)
{
    for (std::string text : {"C:/Games/Varnholm/setup.exe", "http://127.0.0.1:8080/a?b=c&d=e", "校验失败 (MD5)",
                             "emoji 😀 and ümlaut", "/'<>\x7f"})
        EXPECT_EQ(EscapeJsonString(text), text);
}

TEST(JsonText, InvalidUtf8BecomesReplacementCharacters)
{
    EXPECT_EQ(EscapeJsonString("a\xff" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(EscapeJsonString("\xC3"), "\xEF\xBF\xBD");                 // cut sequence
    EXPECT_EQ(EscapeJsonString("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD"); // overlong '/'
    EXPECT_EQ(EscapeJsonString("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // surrogate
    EXPECT_EQ(EscapeJsonString("\xF4\x90\x80\x80").size(), 12u);         // above U+10FFFF
}

TEST(JsonText, CompactWriterSortsAndKeepsUtf8)
{
    Json::Value v(Json::objectValue);
    v["b"] = "磁盘";
    v["a"] = Json::UInt64(18446744073709551615ull);
    v["c"] = Json::Value(Json::arrayValue);
    v["c"].append(Json::Value());
    EXPECT_EQ(WriteCompactJson(v), "{\"a\":18446744073709551615,\"b\":\"磁盘\",\"c\":[null]}");
}

TReportFields SampleFields()
{
    TReportFields f;
    f.serverIp = "10.0.0.7 : 6881";
    f.httpResult = "206";
    f.totalTime = 4294967295u;
    f.totalBytes = 18446744073709551615ull;
    f.averageSpeed = 3;
    f.progress = "45.5%";
    f.httpTotalBytes = 4;
    f.httpAverageSpeed = 5;
    f.p2pTotalBytes = 6;
    f.p2pAverageSpeed = 7;
    f.corruptPakId = -1;
    f.fileName = "setup.exe";
    f.url = "http://h/x";
    f.errorMsg = "none";
    return f;
}

TEST(ReportFragment, MembersInTheirFixedOrder)
{
    TReportContext context{"991002359", "2.0.0.1", "v1.0.1.92", "1"};
    TReportDeltas deltas{8, 9, 10, 11};
    EXPECT_EQ(BuildReportFragment(context, SampleFields(), deltas),
              ",\"DVersion\":\"1.8\",\"GameID\":\"991002359\",\"AppVersion\":\"2.0.0.1\",\"GVersion\":\"v1.0.1.92\","
              "\"Dchannel\":\"1\",\"Serverip\":\"10.0.0.7 : 6881\",\"Httpresult\":\"206\",\"Totaltime\":\"4294967295\","
              "\"Intime\":\"8\",\"Totalbytes\":\"18446744073709551615\",\"Intotalbytes\":\"9\",\"Averagespeed\":\"3\","
              "\"Progress\":\"45.5%\",\"Httptotalbytes\":\"4\",\"Inhttptotalbytes\":\"10\",\"Httpaveragespeed\":\"5\","
              "\"P2ptotalbytes\":\"6\",\"Inp2ptotalbytes\":\"11\",\"P2paveragespeed\":\"7\",\"Corruptpakid\":\"-1\","
              "\"Filename\":\"setup.exe\",\"Url\":\"http://h/x\",\"Errormsg\":\"none\"");
}

TEST(ReportFragment, HostileTextsStayInsideTheirStrings)
{
    TReportFields f = SampleFields();
    f.fileName = "a\",\"GameID\":\"forged";
    f.errorMsg = "line1\nline2\\\x01";
    f.url = "\xff\xfe";
    TReportContext context{"991002359", "2.0", "v1", "1"};
    std::string object = "{" + BuildReportFragment(context, f, TReportDeltas{}).substr(1) + "}";
    Json::Value parsed = CollectionServerDouble::ParseJson(object);
    ASSERT_TRUE(parsed.isObject()) << object;
    EXPECT_EQ(parsed["GameID"], "991002359");
    EXPECT_EQ(parsed["Filename"], "a\",\"GameID\":\"forged");
    EXPECT_EQ(parsed["Errormsg"], "line1\nline2\\\x01");
    EXPECT_EQ(parsed["Url"], "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(object.find('\n'), std::string::npos);
}

} // namespace
