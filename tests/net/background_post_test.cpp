#include "net/background_post.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "gui_thread.h"
#include "net/response_reader.h"
#include "net/transport_error.h"
#include "test_http_server.h"

namespace qvlink {
namespace {

using namespace std::chrono_literals;
using test::GuiThread;
using test::TestHttpServer;

std::string urlOf(const TestHttpServer& server) {
    return "http://127.0.0.1:" + std::to_string(server.port());
}

/// What a finished post handed over: the failure's text ("" for success) and whether it ran on
/// the owner thread.
struct Outcome {
    std::string failure;
    bool onOwnerThread = false;
};

TEST(BackgroundPost, OutcomeReachesTheOwnerThreadOnceThePostEnds) {
    const struct {
        const char* name;
        std::string answer;
        std::string failure;
    } cases[] = {
        {"2xx", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", ""},
        {"404", "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n", "404 Not Found"},
        {"closed early", "", kConnectionClosedMessage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server;
        server.serve(TestHttpServer::reply(c.answer));
        GuiThread owner;
        HttpClient client;
        std::promise<Outcome> outcome;
        auto post = owner.run([&] { return std::make_unique<BackgroundPost>(client, owner); });
        ASSERT_TRUE(owner.run([&] {
            return post->start(urlOf(server), {"reprog={}"}, [&](std::exception_ptr failure) {
                Outcome got{"", std::this_thread::get_id() == owner.id()};
                try {
                    if (failure) {
                        std::rethrow_exception(failure);
                    }
                } catch (const TransportError& error) {
                    got.failure = error.what();
                }
                outcome.set_value(got);
            });
        }));
        const Outcome got = outcome.get_future().get();
        EXPECT_EQ(got.failure, c.failure);
        EXPECT_TRUE(got.onOwnerThread);
        EXPECT_FALSE(owner.run([&] { return post->isRunning(); }));
        EXPECT_TRUE(server.request().starts_with("POST / HTTP/1.0\r\n"));
        owner.run([&] { post.reset(); });
    }
}

TEST(BackgroundPost, DestroyingItCancelsAPostToASilentDeviceWithoutItsOutcome) {
    TestHttpServer server;
    std::atomic<bool> requestRead{false};
    server.serve([&](int connection) {
        requestRead = true;
        TestHttpServer::waitForClientClose(connection);
    });
    GuiThread owner;
    HttpClient client;  // the default limits of 15 and 20 s
    bool doneRan = false;
    auto post = owner.run([&] { return std::make_unique<BackgroundPost>(client, owner); });
    owner.run([&] {
        post->start(urlOf(server), {"reprog={}"}, [&](std::exception_ptr) { doneRan = true; });
        EXPECT_FALSE(post->start(urlOf(server), {}, [](std::exception_ptr) {}));
    });
    while (!requestRead) {  // the device has the request and stays silent
        std::this_thread::yield();
    }

    const auto started = std::chrono::steady_clock::now();
    owner.run([&] { post.reset(); });
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    owner.run([] {});  // a hand-over queued before the end has run by now
    EXPECT_FALSE(doneRan);
}

}  // namespace
}  // namespace qvlink
