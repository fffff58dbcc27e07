// HTTPS as a current server offers it (TLS 1.3, or TLS 1.2 with forward-secret AEAD suites), and
// certificate or key files that cannot serve refused with a message that names them.
#include "ServerHarness.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <openssl/ssl.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

namespace asio = boost::asio;

// Whether a client that offers only this protocol version (and, below TLS 1.3, only these
// suites) completes a handshake with the server.
bool Handshakes(int port, int version, const std::string& suites) {
    asio::io_context io;
    asio::ssl::context tls(asio::ssl::context::tls_client);
    SSL_CTX* ctx = tls.native_handle();
    SSL_CTX_set_security_level(ctx, 0); // the client may offer what the server must refuse
    SSL_CTX_set_min_proto_version(ctx, version);
    SSL_CTX_set_max_proto_version(ctx, version);
    if (!suites.empty() && SSL_CTX_set_cipher_list(ctx, suites.c_str()) != 1)
        ADD_FAILURE() << "suíte desconhecida do cliente: " << suites;
    asio::ssl::stream<asio::ip::tcp::socket> stream(io, tls);
    stream.next_layer().connect(
        {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
    boost::system::error_code ec;
    stream.handshake(asio::ssl::stream_base::client, ec);
    return !ec;
}

} // namespace

TEST(ServerTls, OnlyCurrentProtocolsAndForwardSecretAeadSuites) {
    TestDatabase db("sqlite");
    const TestCertificate pem = MakeCertificate(db.Dir(), "servidor");
    ServerProcess server(db.Url(), {"--tls-cert", pem.cert, "--tls-key", pem.key});
    struct Case {
        int version;
        std::string suites;
        bool accepted;
    };
    const Case cases[] = {
        {TLS1_3_VERSION, "", true},
        {TLS1_2_VERSION, "ECDHE-RSA-AES128-GCM-SHA256", true},
        {TLS1_2_VERSION, "ECDHE-RSA-CHACHA20-POLY1305", true},
        {TLS1_2_VERSION, "DHE-RSA-AES128-GCM-SHA256", true},
        {TLS1_2_VERSION, "ECDHE-RSA-AES128-SHA", false},    // CBC
        {TLS1_2_VERSION, "ECDHE-RSA-AES256-SHA384", false}, // CBC
        {TLS1_2_VERSION, "AES128-GCM-SHA256", false},       // no forward secrecy
        {TLS1_1_VERSION, "ECDHE-RSA-AES128-SHA", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Handshakes(server.Port(), c.version, c.suites), c.accepted)
            << std::hex << c.version << " " << c.suites;
    EXPECT_EQ(server.Stop(), 0);
}

TEST(ServerTls, FilesThatCannotServeAreRefusedByName) {
    TestDatabase db("sqlite");
    const std::string dir = db.Dir();
    const TestCertificate pem = MakeCertificate(dir, "a"), other = MakeCertificate(dir, "b");
    const std::string open = dir + "/aberta.key", locked = dir + "/senha.key";
    std::filesystem::copy_file(pem.key, open);
    ::chmod(open.c_str(), 0644);
    ASSERT_EQ(std::system(("openssl genrsa -aes128 -passout pass:segredo -out '" + locked +
                           "' 2048 >/dev/null 2>&1")
                              .c_str()),
              0);
    // The port is taken: a pair that were wrongly accepted fails to listen instead of serving.
    ServerProcess busy(db.Url());
    struct Case {
        std::string cert, key, message;
    };
    const Case cases[] = {
        {dir + "/falta.pem", pem.key,
         "não foi possível ler o certificado de --tls-cert \"" + dir +
             "/falta.pem\": o arquivo não existe."},
        {pem.key, pem.key,
         "o certificado de --tls-cert \"" + pem.key + "\" não é um certificado em PEM"},
        {pem.cert, open,
         "a chave privada de --tls-key \"" + open +
             "\" pode ser lida ou alterada por qualquer usuário (permissão 0644)"},
        {pem.cert, other.key,
         "a chave privada de --tls-key \"" + other.key +
             "\" não corresponde ao certificado de --tls-cert \"" + pem.cert + "\""},
        {pem.cert, locked,
         "a chave privada de --tls-key \"" + locked + "\" está protegida por senha"},
    };
    for (const Case& c : cases) {
        const RunResult r = RunAppserver({"serve", "--db", db.Url(), "--listen",
                                          "127.0.0.1:" + std::to_string(busy.Port()), "--tls-cert",
                                          c.cert, "--tls-key", c.key});
        EXPECT_EQ(r.exitCode, 2) << c.cert << " " << c.key << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(busy.Stop(), 0);
}
