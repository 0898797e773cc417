// The same service over TLS when given a certificate: HTTPS answers and a WSS room.
#include <gtest/gtest.h>

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include "support/server_process.h"
#include "test_client.h"

namespace vellumora::testing {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

const std::string kDataDir = VELLUMORA_SERVER_TEST_DATA;

struct TlsClient {
    asio::io_context ioc;
    asio::ssl::context ctx{asio::ssl::context::tls_client};
    beast::ssl_stream<beast::tcp_stream> stream{ioc, ctx};

    explicit TlsClient(std::uint16_t port) {
        // Trust exactly the test certificate, and check it names the address we dial.
        ctx.load_verify_file(kDataDir + "/test_cert.pem");
        stream.set_verify_mode(asio::ssl::verify_peer);
        stream.set_verify_callback(asio::ssl::host_name_verification("127.0.0.1"));
        beast::get_lowest_layer(stream).connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
        stream.handshake(asio::ssl::stream_base::client);
    }
};

class Tls : public ::testing::Test {
  protected:
    ServerProcess server_{
        {.extraArgs = {"--tls-cert", kDataDir + "/test_cert.pem", "--tls-key", kDataDir + "/test_key.pem"}}};
};

TEST_F(Tls, shouldServeRestOverHttps) {
    EXPECT_EQ(server_.baseUrl().rfind("https://", 0), 0u);
    TlsClient client(server_.port());
    http::request<http::string_body> req(http::verb::post, "/auth/signup", 11);
    req.set(http::field::host, "127.0.0.1");
    req.set(http::field::content_type, "application/json");
    req.body() = R"({"username":"tls_user","password":"password123"})";
    req.prepare_payload();
    http::write(client.stream, req);
    beast::flat_buffer buffer;
    http::response<http::string_body> res;
    http::read(client.stream, buffer, res);
    EXPECT_EQ(res.result_int(), 200u) << res.body();
    EXPECT_FALSE(jsonString(res.body(), "token").empty());
}

TEST_F(Tls, shouldAdmitARoomConnectionOverWss) {
    // Plain HTTP on a TLS port gets nowhere.
    EXPECT_ANY_THROW(httpRequest(server_.port(), "GET", "/healthz"));

    std::string token;
    {
        TlsClient client(server_.port());
        http::request<http::string_body> req(http::verb::post, "/auth/signup", 11);
        req.set(http::field::host, "127.0.0.1");
        req.body() = R"({"username":"wss_user","password":"password123"})";
        req.prepare_payload();
        http::write(client.stream, req);
        beast::flat_buffer buffer;
        http::response<http::string_body> res;
        http::read(client.stream, buffer, res);
        token = jsonString(res.body(), "token");
    }
    TlsClient client(server_.port());
    http::request<http::string_body> me(http::verb::get, "/auth/me", 11);
    me.set(http::field::host, "127.0.0.1");
    me.set(http::field::authorization, "Bearer " + token);
    http::write(client.stream, me);
    beast::flat_buffer buffer;
    http::response<http::string_body> res;
    http::read(client.stream, buffer, res);
    ASSERT_EQ(res.result_int(), 200u);
    const std::string id = res.body().substr(res.body().find("\"id\":\"") + 6, 36);

    websocket::stream<beast::ssl_stream<beast::tcp_stream>&> ws(client.stream);
    ws.handshake("127.0.0.1", "/?room=solo%3A" + id + "&token=" + token + "&color=%23102030");
    beast::flat_buffer frame;
    ws.read(frame);
    const auto state = decodeServerMessage(beast::buffers_to_string(frame.data()));
    ASSERT_TRUE(state && std::holds_alternative<RoomStateMessage>(*state));
    EXPECT_EQ(std::get<RoomStateMessage>(*state).you.userId, id);
}

TEST(TlsStartup, shouldRefuseToStartWithAnUnusableKey) {
    EXPECT_THROW(ServerProcess({.extraArgs = {"--tls-cert", kDataDir + "/test_cert.pem", "--tls-key",
                                              kDataDir + "/missing.pem"}}),
                 std::runtime_error);
}

}  // namespace
}  // namespace vellumora::testing
