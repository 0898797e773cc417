// The same service over TLS when given a certificate: HTTPS answers and a WSS room.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

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

const std::string kDataDir = VELLUMORA_SERVER_TEST_DATA;

// A TLS client trusting `cert` alone, which must name the address dialled; limited to TLS 1.2
// and `ciphers` when given.
struct TlsClient {
    TlsClient(std::uint16_t port, const std::string& cert, const char* ciphers = nullptr)
        : ctx(asio::ssl::context::tls_client), stream(ioc, ctx) {
        ctx.load_verify_file(cert);
        if (ciphers) {
            SSL_set_max_proto_version(stream.native_handle(), TLS1_2_VERSION);
            SSL_set_cipher_list(stream.native_handle(), ciphers);
        }
        stream.set_verify_mode(asio::ssl::verify_peer);
        stream.set_verify_callback(asio::ssl::host_name_verification("127.0.0.1"));
        beast::get_lowest_layer(stream).connect({asio::ip::make_address("127.0.0.1"), port});
        stream.handshake(asio::ssl::stream_base::client, ec);
    }
    std::string version() { return ec ? "" : SSL_get_version(stream.native_handle()); }
    http::response<http::string_body> request(http::verb method, const std::string& path, std::string body = {}) {
        http::request<http::string_body> req(method, path, 11);
        req.set(http::field::host, "127.0.0.1");
        req.body() = std::move(body);
        req.prepare_payload();
        req.keep_alive(true);
        http::response<http::string_body> res;
        http::write(stream, req, ec);
        if (!ec) http::read(stream, buffer, res, ec);
        return res;
    }
    unsigned healthz() {
        const auto res = request(http::verb::get, "/healthz");
        return ec ? 0 : res.result_int();
    }

    asio::io_context ioc;
    asio::ssl::context ctx;
    beast::ssl_stream<beast::tcp_stream> stream;
    beast::flat_buffer buffer;
    beast::error_code ec;
};

// TLS 1.3 first, TLS 1.2 only with ephemeral AEAD suites; a renewed certificate is taken on
// SIGHUP without dropping anyone.
TEST(Tls, shouldServeRestAndRoomsOverTlsOnlyPreferTls13AndTakeARenewedCertificateOnSighup) {
    const auto dir = std::filesystem::temp_directory_path() / ("vellumora-tls-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto install = [&](const std::string& name) {
        for (const char* part : {"cert", "key"})
            std::filesystem::copy_file(kDataDir + "/" + name + "_" + part + ".pem", dir / (std::string(part) + ".pem"),
                                       std::filesystem::copy_options::overwrite_existing);
    };
    install("test");
    ServerProcess server({.extraArgs = {"--tls-cert", (dir / "cert.pem").string(), "--tls-key",
                                        (dir / "key.pem").string()}});
    EXPECT_EQ(httpRequest(server.port(), "GET", "/healthz").status, 0u);  // plain HTTP gets nowhere
    const std::string original = kDataDir + "/test_cert.pem";

    TlsClient client(server.port(), original);
    const auto res =
        client.request(http::verb::post, "/auth/signup", R"({"username":"tls_user","password":"password123"})");
    ASSERT_EQ(res.result_int(), 200u) << res.body();
    const std::string token = jsonString(res.body(), "token");
    const std::string id = res.body().substr(res.body().find("\"id\":\"") + 6, 36);
    beast::websocket::stream<beast::ssl_stream<beast::tcp_stream>&> ws(client.stream);
    ws.handshake("127.0.0.1", "/?room=solo%3A" + id + "&token=" + token + "&color=%23102030");
    beast::flat_buffer frame;
    ws.read(frame);
    const auto state = decodeServerMessage(beast::buffers_to_string(frame.data()));
    ASSERT_TRUE(state && std::holds_alternative<RoomStateMessage>(*state));
    EXPECT_EQ(std::get<RoomStateMessage>(*state).you.userId, id);

    EXPECT_EQ(TlsClient(server.port(), original).version(), "TLSv1.3");
    EXPECT_EQ(TlsClient(server.port(), original, "ECDHE-ECDSA-AES128-GCM-SHA256").version(), "TLSv1.2");
    EXPECT_EQ(TlsClient(server.port(), original, "ECDHE-ECDSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA").version(), "");
    TlsClient kept(server.port(), original);
    ASSERT_EQ(kept.healthz(), 200u);
    install("renewed");
    ::kill(server.pid(), SIGHUP);
    ASSERT_TRUE(eventually([&] { return server.log().find("reloaded the certificate") != std::string::npos; }));
    EXPECT_EQ(TlsClient(server.port(), kDataDir + "/renewed_cert.pem").version(), "TLSv1.3");
    EXPECT_EQ(TlsClient(server.port(), original).version(), "");
    EXPECT_EQ(kept.healthz(), 200u);  // nobody was dropped
    std::filesystem::remove_all(dir);

    EXPECT_THROW(ServerProcess({.extraArgs = {"--tls-cert", kDataDir + "/test_cert.pem", "--tls-key",
                                              kDataDir + "/missing.pem"}}),
                 std::runtime_error);
}

}  // namespace
}  // namespace vellumora::testing
