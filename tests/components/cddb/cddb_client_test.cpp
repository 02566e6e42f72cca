#include "components/cdrip/cddb/cddb_client.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <thread>

#include "local_http_server.h"

namespace kiv::cddb {
namespace {

using testing::HttpOk;
using testing::LocalHttpServer;

const DiscToc kToc{{0, 15000, 30000}, 45000};  // disc id 0c025803

Settings LocalSettings(std::uint16_t port) {
    Settings s;
    s.host = "127.0.0.1";
    s.port = port;
    s.email = "ripper@example.org";
    s.connectTimeout = std::chrono::seconds(5);
    s.lineTimeout = std::chrono::seconds(5);
    return s;
}

std::string FirstLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

// Answers "cddb query" with a fixed body and each "cddb read" by category.
LocalHttpServer::Handler Canned(std::string queryAnswer, std::map<std::string, std::string> reads) {
    return [queryAnswer = std::move(queryAnswer), reads = std::move(reads)](const std::string& request)
               -> std::optional<std::string> {
        if (request.find("cmd=cddb+query+") != std::string::npos) return queryAnswer;
        for (const auto& [category, answer] : reads)
            if (request.find("cmd=cddb+read+" + category + "+") != std::string::npos) return answer;
        return HttpOk("500 Unrecognized command.\r\n");
    };
}

std::string RecordAnswer(const std::string& body) {
    return HttpOk("210 rock 0c025803 CD database entry follows (until terminating `.')\r\n" + body + ".\r\n");
}

TEST(CddbClientTest, ExactMatchIsQueriedAndRead) {
    LocalHttpServer server(Canned(HttpOk("200 rock 0c025803 The Band / The Album\r\n"),
                                  {{"rock", RecordAnswer("# xmcd\r\nDISCID=0c025803\r\n"
                                                         "DTITLE=The Band / The Album\r\n"
                                                         "TTITLE0=Intro\r\nTTITLE1=Long \r\nTTITLE1=Title\r\n"
                                                         "EXTD=a\\nb\r\n")}}));
    const CddbClient client(LocalSettings(server.port()));
    const LookupResult r = client.Lookup(kToc);

    ASSERT_TRUE(r.ok()) << r.message();
    ASSERT_EQ(r.matches.size(), 1u);
    EXPECT_EQ(r.recordsRead, 1u);
    const Match& m = r.matches[0];
    EXPECT_EQ(m.category, "rock");
    EXPECT_EQ(m.discId, "0c025803");
    EXPECT_EQ(m.description, "The Band / The Album");
    EXPECT_EQ(m.raw, "# xmcd\nDISCID=0c025803\nDTITLE=The Band / The Album\nTTITLE0=Intro\nTTITLE1=Long \n"
                     "TTITLE1=Title\nEXTD=a\\nb\n");
    EXPECT_EQ(m.record.category, "rock");
    EXPECT_EQ(m.record.Track(1).title, "Long Title");
    EXPECT_EQ(m.record.extended, "a\nb");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
    EXPECT_EQ(FirstLine(requests[0]),
              "GET /~cddb/cddb.cgi?cmd=cddb+query+0c025803+3+150+15150+30150+602"
              "&hello=ripper+example.org+CDRipper+1.0&proto=6 HTTP/1.0");
    EXPECT_EQ(FirstLine(requests[1]),
              "GET /~cddb/cddb.cgi?cmd=cddb+read+rock+0c025803&hello=ripper+example.org+CDRipper+1.0&proto=6 HTTP/1.0");
    for (const std::string& request : requests) {
        EXPECT_NE(request.find(host), std::string::npos) << request;
        EXPECT_NE(request.find("User-Agent: CD Extractor Control, "), std::string::npos) << request;
    }
}

TEST(CddbClientTest, InexactMatchesAreAllReadInServerOrder) {
    LocalHttpServer server(Canned(HttpOk("211 close matches found\r\n"
                                         "rock 0c025803 First / One\r\n"
                                         "misc 0c025804   Second / Two  \r\n"
                                         "jazz 0c025805 Third / Three\r\n"
                                         ".\r\n"),
                                  {{"rock", RecordAnswer("DTITLE=First / One\r\n")},
                                   {"misc", RecordAnswer("DTITLE=Second / Two\r\n")},
                                   {"jazz", RecordAnswer("DTITLE=Third / Three\r\n")}}));
    const LookupResult r = CddbClient(LocalSettings(server.port())).Lookup(kToc);
    ASSERT_TRUE(r.ok()) << r.message();
    ASSERT_EQ(r.matches.size(), 3u);
    EXPECT_EQ(r.recordsRead, 3u);
    const char* albums[] = {"One", "Two", "Three"};
    const char* categories[] = {"rock", "misc", "jazz"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(r.matches[i].category, categories[i]);
        EXPECT_EQ(r.matches[i].record.album, albums[i]);
    }
    EXPECT_EQ(r.matches[1].discId, "0c025804");
    EXPECT_EQ(r.matches[1].description, "Second / Two");
    EXPECT_NE(server.requests().at(2).find("cmd=cddb+read+misc+0c025804&"), std::string::npos);
}

TEST(CddbClientTest, FailuresOfTheQuery) {
    struct Case {
        const char* name;
        std::string answer;
        Failure failure;
    };
    const Case cases[] = {
        {"no match", HttpOk("202 No match for disc ID 0c025803.\r\n"), Failure::NoMatch},
        {"cddb syntax error", HttpOk("500 Command syntax error.\r\n"), Failure::ServerFailure},
        {"server error", HttpOk("402 Server error.\r\n"), Failure::ServerFailure},
        {"garbage code", HttpOk("xyz\r\n"), Failure::ServerFailure},
        {"http not found", "HTTP/1.1 404 Not Found\r\n\r\n", Failure::HttpStatus},
        {"proxy auth", "HTTP/1.0 407 Proxy Authentication Required\r\n\r\n", Failure::HttpStatus},
        {"not http", "SSH-2.0-OpenSSH\r\n", Failure::NotHttp},
        {"closed before status", HttpOk(""), Failure::ReceiveTimeout},
        {"closed before the end of the list", HttpOk("211 close\r\nrock 0c025803 A / B\r\n"), Failure::ReceiveTimeout},
        {"endless line", HttpOk("211 close\r\n" + std::string(100000, 'x')), Failure::ReceiveFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LocalHttpServer server(Canned(c.answer, {}));
        const LookupResult r = CddbClient(LocalSettings(server.port())).Lookup(kToc);
        EXPECT_EQ(r.failure, c.failure) << r.message();
        EXPECT_TRUE(r.matches.empty());
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

TEST(CddbClientTest, FailedReadKeepsTheRecordsBeforeIt) {
    LocalHttpServer server(Canned(HttpOk("211 close matches found\r\nrock 0c025803 A / B\r\n"
                                         "misc 0c025803 C / D\r\nfolk 0c025803 E / F\r\n.\r\n"),
                                  {{"rock", RecordAnswer("DTITLE=A / B\r\n")},
                                   {"misc", HttpOk("401 misc 0c025803 No such CD entry in database.\r\n")},
                                   {"folk", RecordAnswer("DTITLE=E / F\r\n")}}));
    const LookupResult r = CddbClient(LocalSettings(server.port())).Lookup(kToc);
    EXPECT_EQ(r.failure, Failure::ServerFailure);
    EXPECT_EQ(r.message(), "CDDB error #10: CDDB request failed for unknown reason.");
    ASSERT_EQ(r.matches.size(), 3u);
    EXPECT_EQ(r.recordsRead, 1u);
    EXPECT_EQ(r.matches[0].record.artist, "A");
    EXPECT_TRUE(r.matches[2].raw.empty());
    EXPECT_EQ(server.requests().size(), 3u);  // the third match is not read
}

TEST(CddbClientTest, TextEncodingFollowsTheProtocolLevel) {
    struct Case {
        int level;
        std::string description;  // as sent
        std::string title;        // as sent
        std::string expectedDescription;
        std::string expectedTitle;
    };
    const Case cases[] = {
        {6, "Μπάντα / Δίσκος", "Τραγούδι", "Μπάντα / Δίσκος", "Τραγούδι"},
        {5, "Caf\xe9 / Ann\xe9" "e", "Gar\xe7on", "Café / Année", "Garçon"},
        // An old entry served as Latin-1 even at level 6 is not mangled.
        {6, "Caf\xe9 / X", "Na\xefve", "Café / X", "Naïve"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expectedTitle);
        LocalHttpServer server(Canned(HttpOk("200 rock 0c025803 " + c.description + "\r\n"),
                                      {{"rock", RecordAnswer("TTITLE0=" + c.title + "\r\n")}}));
        Settings s = LocalSettings(server.port());
        s.protocolLevel = c.level;
        const LookupResult r = CddbClient(s).Lookup(kToc);
        ASSERT_TRUE(r.ok()) << r.message();
        EXPECT_EQ(r.matches[0].description, c.expectedDescription);
        EXPECT_EQ(r.matches[0].record.Track(0).title, c.expectedTitle);
        EXPECT_NE(server.requests().at(0).find("&proto=" + std::to_string(c.level) + " HTTP/1.0"), std::string::npos);
    }
}

TEST(CddbClientTest, ProxyGetsTheAbsoluteUrl) {
    LocalHttpServer proxy(Canned(HttpOk("202 No match.\r\n"), {}));
    Settings s = LocalSettings(0);
    s.host = "localhost";  // never resolved: the proxy does that
    s.port = 80;
    s.proxy = ProxySettings{"127.0.0.1", proxy.port()};
    const LookupResult r = CddbClient(s).Lookup(kToc);
    EXPECT_EQ(r.failure, Failure::NoMatch);
    ASSERT_EQ(proxy.requests().size(), 1u);
    const std::string request = proxy.requests()[0];
    EXPECT_EQ(FirstLine(request),
              "GET http://localhost/~cddb/cddb.cgi?cmd=cddb+query+0c025803+3+150+15150+30150+602"
              "&hello=ripper+example.org+CDRipper+1.0&proto=6 HTTP/1.0");
    EXPECT_NE(request.find("\r\nHost: localhost\r\n"), std::string::npos);
}

TEST(CddbClientTest, ValuesCannotAddRequestParameters) {
    Settings s = LocalSettings(0);
    s.email = "a&proto=1 x@h+st";
    EXPECT_EQ(RequestUrl(s, "cddb read rock&x=1 0c025803"),
              "http://127.0.0.1:0/~cddb/cddb.cgi?cmd=cddb+read+rock%26x%3D1+0c025803"
              "&hello=a%26proto%3D1+x+h%2Bst+CDRipper+1.0&proto=6");
}

TEST(CddbClientTest, ServerThatNeverAnswersTimesOut) {
    LocalHttpServer server([](const std::string&) { return std::nullopt; });
    Settings s = LocalSettings(server.port());
    s.lineTimeout = std::chrono::milliseconds(300);
    const LookupResult r = CddbClient(s).Lookup(kToc);
    EXPECT_EQ(r.failure, Failure::ReceiveTimeout);
    EXPECT_EQ(r.message(), "Socket error: timed out.");
}

TEST(CddbClientTest, CancelEndsAWaitingLookup) {
    LocalHttpServer server([](const std::string&) { return std::nullopt; });
    std::atomic<bool> cancel{false};
    LookupResult r;
    std::thread lookup([&] { r = CddbClient(LocalSettings(server.port())).Lookup(kToc, &cancel); });
    const bool arrived = server.WaitForRequests(1);
    cancel = true;
    lookup.join();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(r.failure, Failure::Cancelled);

    // Already cancelled: nothing is sent at all.
    LocalHttpServer idle([](const std::string&) { return std::nullopt; });
    EXPECT_EQ(CddbClient(LocalSettings(idle.port())).Lookup(kToc, &cancel).failure, Failure::Cancelled);
    EXPECT_TRUE(idle.requests().empty());
}

TEST(CddbClientTest, ClosedPortIsServerNotFound) {
    // A port that was free a moment ago: nobody listens there.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length), 0);
    ::close(fd);
    const LookupResult r = CddbClient(LocalSettings(ntohs(a.sin_port))).Lookup(kToc);
    EXPECT_EQ(r.failure, Failure::ServerNotFound);
    EXPECT_EQ(r.message(), "CDDB error #5: server not found.");
}

struct SocketFd {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ~SocketFd() { ::close(fd); }
};

// A listener whose accept queue is full and never drained: further SYNs
// are dropped, so a connect neither succeeds nor fails.
TEST(CddbClientTest, ConnectThatHangsTimesOut) {
    SocketFd listener, filler, probe;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener.fd, 0), 0);
    ASSERT_EQ(::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&a), &length), 0);
    auto connects = [&](int fd) {
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        pollfd p{fd, POLLOUT, 0};
        return ::poll(&p, 1, 300) > 0;
    };
    ASSERT_TRUE(connects(filler.fd));
    if (connects(probe.fd)) GTEST_SKIP() << "this kernel completes connections beyond the backlog";

    Settings s = LocalSettings(ntohs(a.sin_port));
    s.connectTimeout = std::chrono::milliseconds(300);
    const LookupResult r = CddbClient(s).Lookup(kToc);
    EXPECT_EQ(r.failure, Failure::ConnectTimeout);
    EXPECT_EQ(r.message(), "CDDB error #4: cannot connect, timed out.");
}

TEST(CddbClientTest, UnusableTocAsksNoServer) {
    LocalHttpServer server(Canned(HttpOk("202 No match.\r\n"), {}));
    const LookupResult r = CddbClient(LocalSettings(server.port())).Lookup(DiscToc{{}, 0});
    EXPECT_EQ(r.failure, Failure::NoMatch);
    EXPECT_TRUE(server.requests().empty());
}

TEST(CddbClientTest, ConcurrentLookupsByHostName) {
    LocalHttpServer server(Canned(HttpOk("200 rock 0c025803 A / B\r\n"), {{"rock", RecordAnswer("DTITLE=A / B\r\n")}}));
    Settings s = LocalSettings(server.port());
    s.host = "localhost";
    std::vector<LookupResult> results(4);
    std::vector<std::thread> threads;
    for (LookupResult& result : results) threads.emplace_back([&] { result = CddbClient(s).Lookup(kToc); });
    for (std::thread& t : threads) t.join();
    for (const LookupResult& r : results) {
        EXPECT_TRUE(r.ok()) << r.message();
        EXPECT_EQ(r.recordsRead, 1u);
    }
}

}  // namespace
}  // namespace kiv::cddb
