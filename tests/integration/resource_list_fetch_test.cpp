// The resource list fetched from a real nginx on loopback: answers, redirect
// chains, oversized bodies, https with a certificate from a test CA made here
// by openssl, and servers that are down or never answer.
#include <gtest/gtest.h>

#include "app/expiry_check.h"
#include "app/text_fetch.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/qsocket.h"
#include "platform/free_port.h"
#include "platform/run_program.h"
#include "platform/tick.h"
#include "tests/integration/download_fixture.h"
#include "tests/integration/nginx_server.h"

namespace {

const char kExpiredList[] = "<project><configs><expire-info><expired>true</expired><message>请下载新版</message>"
                            "<url>https://example.org/new</url></expire-info></configs></project>";

class ResourceListFetchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        www = scratch.path / "www";
        fs::create_directories(www);
        WriteAll(www / "list.xml", kExpiredList);
        WriteAll(www / "exact.bin", std::string(kMaxFetchedTextBytes, 'x'));
        WriteAll(www / "big.bin", std::string(2 * kMaxFetchedTextBytes, 'x'));
        WriteAll(www / "missing-page.html", "<html>gone</html>");
        TNginxOptions options;
        options.serverDirectives = Redirects() +
                                   "    location = /toftp { return 302 ftp://127.0.0.1:9/list.xml; }\n"
                                   "    location = /toinvalid { return 302 http://list.invalid/list.xml; }\n"
                                   "    error_page 404 /missing-page.html;\n";
        ASSERT_TRUE(nginx.Start(www, options));
    }

    // /r1 redirects to the list, /rN to /r(N-1).
    static std::string Redirects()
    {
        std::string directives;
        for (int n = 1; n <= 6; ++n)
            directives += "    location = /r" + std::to_string(n) + " { return 302 " +
                          (n == 1 ? std::string("/list.xml") : "/r" + std::to_string(n - 1)) + "; }\n";
        return directives;
    }

    bool Fetch(const std::string &url, long seconds = 10, const std::string &caFile = "")
    {
        TTextFetch request;
        request.url = url;
        request.timeLimitSeconds = seconds;
        request.caFile = caFile;
        return FetchText(request, body, error, code);
    }

    TScratch scratch;
    fs::path www;
    TNginxServer nginx;
    std::string body, error;
    long code = 0;
};

TEST_F(ResourceListFetchTest, AnswersAndErrorCodes)
{
    ASSERT_TRUE(Fetch(nginx.Url("/list.xml"))) << error;
    EXPECT_EQ(code, 200);
    EXPECT_EQ(body, kExpiredList);

    EXPECT_FALSE(Fetch(nginx.Url("/nothing.xml"))) << "a 404 with a body is a failure";
    EXPECT_EQ(code, 404);
    EXPECT_EQ(error, "Failed to get " + nginx.Url("/nothing.xml"));
    EXPECT_EQ(body, "");
}

TEST_F(ResourceListFetchTest, RedirectsOnlyToTheWebAndAtMostFive)
{
    ASSERT_TRUE(Fetch(nginx.Url("/r5"))) << error;
    EXPECT_EQ(body, kExpiredList);
    EXPECT_FALSE(Fetch(nginx.Url("/r6")));
    EXPECT_FALSE(Fetch(nginx.Url("/toftp")));
    EXPECT_FALSE(Fetch(nginx.Url("/toinvalid")));
    EXPECT_EQ(code, 302) << "the reserved name is refused before it is looked up";
}

TEST_F(ResourceListFetchTest, BodiesAboveOneMebibyteAreRefused)
{
    ASSERT_TRUE(Fetch(nginx.Url("/exact.bin"))) << error;
    EXPECT_EQ(body.size(), kMaxFetchedTextBytes);
    EXPECT_FALSE(Fetch(nginx.Url("/big.bin")));
    EXPECT_EQ(body, "");
}

TEST_F(ResourceListFetchTest, ExpiryIsReadAndUnreachableListsCostAtMostTheirLimit)
{
    std::string message, page;
    ASSERT_TRUE(ReadExpiry(nginx.Url("/list.xml"), message, page));
    EXPECT_EQ(message, "请下载新版");
    EXPECT_EQ(page, "https://example.org/new");

    // A listener that accepts and then says nothing.
    QSocket silent;
    const int silentPort = platform::FreeLoopbackPort();
    ASSERT_TRUE(silent.Listen(silentPort, HostToNetwork32(0x7F000001)));
    uint32_t began = platform::TickCount();
    EXPECT_FALSE(ReadExpiry("http://127.0.0.1:" + std::to_string(silentPort) + "/list.xml", message, page));
    uint32_t took = platform::TickCount() - began;
    EXPECT_GE(took, 1900u);
    EXPECT_LT(took, 3500u);

    const int closedPort = platform::FreeLoopbackPort();
    began = platform::TickCount();
    EXPECT_FALSE(ReadExpiry("http://127.0.0.1:" + std::to_string(closedPort) + "/list.xml", message, page));
    EXPECT_LT(platform::TickCount() - began, 2500u);

    began = platform::TickCount();
    EXPECT_FALSE(ReadExpiry("http://list.invalid/list.xml", message, page));
    EXPECT_FALSE(Fetch("http://LIST.Invalid./list.xml"));
    EXPECT_EQ(code, 0);
    EXPECT_LT(platform::TickCount() - began, 500u) << "no look-up is made";
}

TEST_F(ResourceListFetchTest, CancellingEndsAHungFetchAtOnce)
{
    QSocket silent;
    const int silentPort = platform::FreeLoopbackPort();
    ASSERT_TRUE(silent.Listen(silentPort, HostToNetwork32(0x7F000001)));
    TTextFetch request;
    request.url = "http://127.0.0.1:" + std::to_string(silentPort) + "/list.xml";
    const uint32_t began = platform::TickCount();
    request.cancelled = [began] { return platform::TickCount() - began > 300; };
    EXPECT_FALSE(FetchText(request, body, error, code));
    EXPECT_LT(platform::TickCount() - began, 2000u);
}

// https with certificates made here: one for 127.0.0.1 and one for another
// address, both signed by a test CA that only this test trusts.
class ResourceListHttpsTest : public ResourceListFetchTest {
protected:
    void SetUp() override
    {
        ResourceListFetchTest::SetUp();
        tls = scratch.path / "tls";
        fs::create_directories(tls);
        ASSERT_TRUE(Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                             "-keyout", Tls("ca.key"), "-out", Tls("ca.pem"), "-days", "2", "-subj",
                             "/CN=Quarrowlight test CA"}));
        ASSERT_NO_FATAL_FAILURE(Sign("good", "IP:127.0.0.1"));
        ASSERT_NO_FATAL_FAILURE(Sign("other", "IP:127.0.0.2"));
        ASSERT_TRUE(good.Start(www, Https("good")));
        ASSERT_TRUE(other.Start(www, Https("other")));
    }

    std::string Tls(const std::string &name) const { return (tls / name).string(); }
    bool Openssl(std::vector<std::string> args)
    {
        args.insert(args.begin(), "/usr/bin/openssl");
        std::string said;
        const int status = platform::RunProgram(args, &said);
        EXPECT_EQ(status, 0) << said;
        return status == 0;
    }
    void Sign(const std::string &name, const std::string &altName)
    {
        WriteAll(tls / (name + ".ext"), "subjectAltName=" + altName + "\n");
        ASSERT_TRUE(Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                             Tls(name + ".key"), "-out", Tls(name + ".csr"), "-subj", "/CN=" + name}));
        ASSERT_TRUE(Openssl({"x509", "-req", "-in", Tls(name + ".csr"), "-CA", Tls("ca.pem"), "-CAkey",
                             Tls("ca.key"), "-CAcreateserial", "-out", Tls(name + ".pem"), "-days", "2",
                             "-extfile", Tls(name + ".ext")}));
    }
    TNginxOptions Https(const std::string &name) const
    {
        TNginxOptions options;
        options.listenParameters = " ssl";
        options.serverDirectives =
            "    ssl_certificate " + Tls(name + ".pem") + ";\n    ssl_certificate_key " + Tls(name + ".key") + ";\n";
        return options;
    }
    std::string HttpsUrl(const TNginxServer &server) const
    {
        return "https://127.0.0.1:" + std::to_string(server.Port()) + "/list.xml";
    }

    fs::path tls;
    TNginxServer good;
    TNginxServer other;
};

TEST_F(ResourceListHttpsTest, CertificatesAndHostNamesAreVerified)
{
    ASSERT_TRUE(Fetch(HttpsUrl(good), 10, Tls("ca.pem"))) << error;
    EXPECT_EQ(body, kExpiredList);
    EXPECT_FALSE(Fetch(HttpsUrl(good))) << "the test CA is not in the system's store";
    EXPECT_FALSE(Fetch(HttpsUrl(other), 10, Tls("ca.pem"))) << "a certificate for another address";
    std::string message, page;
    EXPECT_FALSE(ReadExpiry(HttpsUrl(other), message, page, Tls("ca.pem")));
    EXPECT_TRUE(ReadExpiry(HttpsUrl(good), message, page, Tls("ca.pem")));
}

} // namespace
