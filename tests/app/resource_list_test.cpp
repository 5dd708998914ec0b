#include <gtest/gtest.h>

#include <string>

#include "app/resource_list.h"

namespace {

std::string List(const std::string &switchText, const std::string &resources)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<project><configs><p2p-switch>" + switchText +
           "</p2p-switch></configs><resources>" + resources + "</resources></project>";
}

std::string Cdn(const std::string &attributes, const std::string &ips)
{
    return "<cdn id=\"1\" name=\"c\" " + attributes + ">" + ips + "</cdn>";
}

std::string Resource(const std::string &id, const std::string &task, const std::string &cdns)
{
    return "<resource id=\"" + id + "\" task=\"" + task + "\">" + cdns + "</resource>";
}

const std::string kMirror = "middle-dir=\"/10192/\" file-name=\"VRNH_92_.7z.001\" open=\"1\"";

TEST(ResourceListTest, SwitchIsOnOnlyForLowerCaseOnAndNeedsProjectRoot)
{
    TResourceList list;
    EXPECT_EQ(ReadResourceList(List("on", ""), list), 0);
    EXPECT_TRUE(list.p2pEnabled);
    EXPECT_EQ(ReadResourceList(List("\n  on \n", ""), list), 0);
    EXPECT_TRUE(list.p2pEnabled) << "whitespace around the switch is collapsed";
    EXPECT_EQ(ReadResourceList(List("ON", ""), list), 0);
    EXPECT_FALSE(list.p2pEnabled);
    EXPECT_EQ(ReadResourceList(List("", ""), list), 0);
    EXPECT_FALSE(list.p2pEnabled);

    EXPECT_EQ(ReadResourceList("<other><configs><p2p-switch>on</p2p-switch></configs></other>", list), -2);
    EXPECT_EQ(ReadResourceList("<project><configs/></project>", list), -2);
    EXPECT_EQ(ReadResourceList("<project><configs><p2p-switch>on</p2p", list), -2);
    EXPECT_EQ(ReadResourceList("", list), -2);
}

TEST(ResourceListTest, MirrorsAreBuiltFromEachAddressWithNullHostByDefault)
{
    TResourceList list;
    ASSERT_EQ(ReadResourceList(List("on", Resource("1", "http://a/f", Cdn(kMirror, "<ip>1.2.3.4</ip><ip>5.6.7.8:81</ip>"))),
                               list),
              0);
    ASSERT_EQ(list.resources.size(), 1u);
    EXPECT_EQ(list.resources[0].task, "http://a/f");
    ASSERT_EQ(list.resources[0].mirrors.size(), 2u);
    EXPECT_EQ(list.resources[0].mirrors[0].url, "http://1.2.3.4/10192/VRNH_92_.7z.001");
    EXPECT_EQ(list.resources[0].mirrors[0].hostName, "null");
    EXPECT_EQ(list.resources[0].mirrors[1].url, "http://5.6.7.8:81/10192/VRNH_92_.7z.001");

    ReadResourceList(List("on", Resource("1", "t", Cdn(kMirror + " host-name=\"cdn.example\"", "<ip>1.2.3.4</ip>"))), list);
    EXPECT_EQ(list.resources[0].mirrors.at(0).hostName, "cdn.example");
}

TEST(ResourceListTest, ClosedOrIncompleteMirrorsAddNothing)
{
    const std::string ip = "<ip>1.2.3.4</ip>";
    for (const std::string &cdn : {
             Cdn("middle-dir=\"/d/\" file-name=\"f\" open=\"0\"", ip),
             Cdn("middle-dir=\"/d/\" file-name=\"f\"", ip),
             Cdn("middle-dir=\"\" file-name=\"f\" open=\"1\"", ip),
             Cdn("middle-dir=\"/d/\" open=\"1\"", ip),
             std::string("<cdn name=\"c\" middle-dir=\"/d/\" file-name=\"f\" open=\"1\">") + ip + "</cdn>",
         }) {
        TResourceList list;
        ASSERT_EQ(ReadResourceList(List("on", Resource("1", "t", cdn)), list), 0) << cdn;
        ASSERT_EQ(list.resources.size(), 1u);
        EXPECT_TRUE(list.resources[0].mirrors.empty()) << cdn;
    }
}

TEST(ResourceListTest, UntrustedMirrorTextsThatWouldSplitOrRedirectAreSkipped)
{
    const std::string good = "<ip>9.9.9.9</ip>";
    for (const std::string &cdn : {
             Cdn(kMirror, "<ip>1.2.3</ip>"),
             Cdn(kMirror, "<ip>1.2.3.256</ip>"),
             Cdn(kMirror, "<ip>1.2.3.4.5</ip>"),
             Cdn(kMirror, "<ip>evil.example</ip>"),
             Cdn(kMirror, "<ip>1.2.3.4:0</ip>"),
             Cdn(kMirror, "<ip>1.2.3.4:65536</ip>"),
             Cdn(kMirror, "<ip>1.2.3.4@evil</ip>"),
             Cdn(kMirror, "<ip>1.2.3.4 5.6.7.8</ip>"),
             Cdn(kMirror, "<ip></ip>"),
             Cdn("middle-dir=\"d/\" file-name=\"f\" open=\"1\"", good),
             Cdn("middle-dir=\"@evil/\" file-name=\"f\" open=\"1\"", good),
             Cdn("middle-dir=\"/d/\" file-name=\"f&#10;http://evil/x\" open=\"1\"", good),
             Cdn("middle-dir=\"/d /\" file-name=\"f\" open=\"1\"", good),
             Cdn(kMirror + " host-name=\"a&#13;&#10;X-Evil: 1\"", good),
         }) {
        TResourceList list;
        ASSERT_EQ(ReadResourceList(List("on", Resource("1", "t", cdn)), list), 0) << cdn;
        EXPECT_TRUE(list.resources.at(0).mirrors.empty()) << cdn;
    }
}

TEST(ResourceListTest, WalkStopsAtAResourceWithoutIdOrAnElementOfAnotherName)
{
    const std::string ips = "<ip>1.1.1.1</ip>";
    TResourceList list;
    ReadResourceList(List("on", Resource("1", "a", Cdn(kMirror, ips)) + "<!-- next -->" +
                                    Resource("2", "b", Cdn(kMirror, ips)) + "<other/>" +
                                    Resource("3", "c", Cdn(kMirror, ips))),
                     list);
    ASSERT_EQ(list.resources.size(), 2u);
    EXPECT_EQ(list.resources[1].task, "b");

    ReadResourceList(List("on", Resource("1", "a", Cdn(kMirror, ips)) + Resource("", "b", Cdn(kMirror, ips)) +
                                    Resource("3", "c", Cdn(kMirror, ips))),
                     list);
    EXPECT_EQ(list.resources.size(), 1u);

    // Inside a mirror: the addresses end at the first other element.
    ReadResourceList(List("on", Resource("1", "a", Cdn(kMirror, "<ip>1.1.1.1</ip><x/><ip>2.2.2.2</ip>"))), list);
    EXPECT_EQ(list.resources.at(0).mirrors.size(), 1u);
}

TEST(ResourceListTest, ExpiryNeedsExactlyTrueAndHandsOutOnlyWebPages)
{
    std::string message, page;
    const auto expiry = [](const std::string &expired, const std::string &url) {
        return "<anyroot><configs><expire-info><expired>" + expired + "</expired><message>用新版</message><url>" +
               url + "</url></expire-info></configs></anyroot>";
    };
    EXPECT_TRUE(ReadExpiryText(expiry("true", "https://example.org/new"), message, page));
    EXPECT_EQ(message, "用新版");
    EXPECT_EQ(page, "https://example.org/new");

    EXPECT_TRUE(ReadExpiryText(expiry("true", "file:///etc/passwd"), message, page));
    EXPECT_EQ(page, "") << "only http and https reach the system's opener";
    EXPECT_TRUE(ReadExpiryText(expiry("true", "javascript:alert(1)"), message, page));
    EXPECT_EQ(page, "");

    EXPECT_FALSE(ReadExpiryText(expiry("True", "http://x/"), message, page));
    EXPECT_FALSE(ReadExpiryText(expiry("", "http://x/"), message, page));
    EXPECT_FALSE(ReadExpiryText("<project><configs/></project>", message, page));
    EXPECT_FALSE(ReadExpiryText("not xml", message, page));
    EXPECT_EQ(message, "");
}

TEST(ResourceListTest, ExpiryTextsAreCutAt4095Bytes)
{
    std::string message, page;
    const std::string longText(5000, 'm');
    const std::string longUrl = "http://x/" + std::string(5000, 'u');
    ASSERT_TRUE(ReadExpiryText("<p><configs><expire-info><expired>true</expired><message>" + longText +
                                   "</message><url>" + longUrl + "</url></expire-info></configs></p>",
                               message, page));
    EXPECT_EQ(message, std::string(4095, 'm'));
    EXPECT_EQ(page, longUrl.substr(0, 4095));
}

} // namespace
