#include "platform/net/http_client.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/local_http_server.h"

namespace kiv::net {
namespace {

using test::HttpReply;
using test::HttpRequestSeen;
using test::LocalHttpServer;

HttpRequest Local(const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.proxy = "";  // never a proxy from the environment
    request.connectTimeout = std::chrono::milliseconds(3000);
    request.totalTimeout = std::chrono::milliseconds(5000);
    return request;
}

TEST(HttpClient, AnswersCarryStatusBodyAndTypeAfterRedirects) {
    LocalHttpServer server([](const HttpRequestSeen& seen) {
        if (seen.target == "/old") return HttpReply{302, "", "text/plain", {"Location: /new?a=1"}, "", {}};
        if (seen.target == "/new?a=1") return HttpReply{200, "caf\xC3\xA9\n", "application/json", {}, "", {}};
        return HttpReply{404, "nothing here", "text/plain", {}, "", {}};
    });
    HttpRequest request = Local(server.base() + "/old");
    request.headers = {"Accept: application/json"};
    request.userAgent = "OndaloTest/1";
    const HttpResponse ok = HttpGet(request);
    EXPECT_EQ(ok.failure, HttpFailure::None) << ok.detail;
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, "caf\xC3\xA9\n");
    EXPECT_EQ(ok.contentType, "application/json");
    EXPECT_EQ(ok.effectiveUrl, server.base() + "/new?a=1");
    ASSERT_FALSE(server.requests().empty());
    EXPECT_NE(server.requests()[0].head.find("User-Agent: OndaloTest/1"), std::string::npos);
    EXPECT_NE(server.requests()[0].head.find("Accept: application/json"), std::string::npos);

    // A status other than 200 is an answer, not a failure: the caller judges it.
    const HttpResponse missing = HttpGet(Local(server.base() + "/gone"));
    EXPECT_EQ(missing.failure, HttpFailure::None);
    EXPECT_EQ(missing.status, 404);
}

TEST(HttpClient, FailuresAreSortedAndLeaveNoBody) {
    LocalHttpServer server([](const HttpRequestSeen& seen) {
        if (seen.target == "/big") return HttpReply{200, std::string(5000, 'x'), "text/plain", {}, "", {}};
        if (seen.target == "/slow") return HttpReply{200, "late", "text/plain", {}, "", std::chrono::milliseconds(3000)};
        if (seen.target == "/file") return HttpReply{302, "", "text/plain", {"Location: file:///etc/passwd"}, "", {}};
        return HttpReply{200, "", "text/plain", {}, "garbage that is not HTTP\r\n\r\n", {}};
    });
    struct Case {
        const char* name;
        HttpRequest request;
        HttpFailure expected;
    };
    HttpRequest big = Local(server.base() + "/big");
    big.maxBodyBytes = 4096;
    HttpRequest slow = Local(server.base() + "/slow");
    slow.totalTimeout = std::chrono::milliseconds(500);
    const Case cases[] = {
        {"answer over the cap", big, HttpFailure::TooLarge},
        {"slow server", slow, HttpFailure::TimedOut},
        {"redirect off the web", Local(server.base() + "/file"), HttpFailure::BadUrl},
        {"not HTTP", Local(server.base() + "/raw"), HttpFailure::ReceiveFailed},
        {"nobody listening", Local("http://127.0.0.1:" + std::to_string(test::UnusedLocalPort()) + "/"),
         HttpFailure::ConnectFailed},
        {"file address", Local("file:///etc/hostname"), HttpFailure::BadUrl},
        {"unknown host", Local("http://no-such-host.invalid/"), HttpFailure::HostNotFound},
    };
    for (const Case& c : cases) {
        const HttpResponse r = HttpGet(c.request);
        EXPECT_EQ(r.failure, c.expected) << c.name << ": " << r.detail;
        EXPECT_TRUE(r.body.empty()) << c.name;
        EXPECT_FALSE(r.detail.empty()) << c.name;
    }
}

TEST(HttpClient, CancelFlagStopsAWaitingRequest) {
    LocalHttpServer server([](const HttpRequestSeen&) {
        return HttpReply{200, "late", "text/plain", {}, "", std::chrono::milliseconds(4000)};
    });
    std::atomic<bool> cancel{false};
    HttpRequest request = Local(server.base() + "/");
    request.totalTimeout = std::chrono::milliseconds(10000);
    request.cancel = &cancel;
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse r = HttpGet(request);
    raiser.join();
    EXPECT_EQ(r.failure, HttpFailure::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
}

TEST(HttpClient, UrlEscapeKeepsOnlyUnreservedCharacters) {
    EXPECT_EQ(UrlEscape("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(UrlEscape("a b&c=d/\xC3\xA9"), "a%20b%26c%3Dd%2F%C3%A9");
}

}  // namespace
}  // namespace kiv::net
