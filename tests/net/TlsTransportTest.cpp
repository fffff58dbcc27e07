// The TLS transport's opening against servers that never finish a handshake: it fails within the
// step's deadline and with the reason the user is shown, and leaves nothing open behind.
#include "net/TlsTransport.h"
#include "TcpFakes.h"
#include "net/NetConnection.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Clock = TNetTransport::Clock;
using std::chrono::milliseconds;

// Takes what the client sends and answers nothing, until the client goes away.
void Silent(int fd) {
    char buf[4096];
    while (recv(fd, buf, sizeof buf, 0) > 0) {
    }
}

// Answers the client's hello as a plain HTTP server would.
void PlainHttp(int fd) {
    char buf[4096];
    if (recv(fd, buf, sizeof buf, 0) > 0)
        WriteAll(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    shutdown(fd, SHUT_WR);
    Silent(fd);
}

} // namespace

TEST(TlsTransport, AHandshakeThatDoesNotFinishFailsWithinItsDeadline) {
    struct Case {
        const char* what;
        std::function<void(int)> serve;
        int deadlineMs; // of the whole call
        int connectMs;
        String caFile;
        String reason;
        bool retry;
        int tookAtLeastMs;
    };
    const std::vector<Case> cases = {
        {"silent, connect time", Silent, 30000, 300, "", "tempo esgotado", true, 250},
        {"silent, call deadline", Silent, 300, 30000, "", "tempo esgotado", true, 250},
        {"plain HTTP", PlainHttp, 30000, 5000, "",
         "a conexão segura (TLS) falhou: o certificado do servidor não foi aceito ou o servidor "
         "não fala HTTPS (",
         false, 0},
        {"no authority file", Silent, 30000, 5000, "/nao/existe/ca.pem",
         "não foi possível ler o certificado da autoridade /nao/existe/ca.pem (", false, 0},
    };
    for (const Case& k : cases) {
        FakeServer server(k.serve);
        const String where = "127.0.0.1:" + std::to_string(server.Port());
        TTlsTransport transport("127.0.0.1", server.Port(), TNetConnection::AnswerLimit, k.caFile);
        const auto start = Clock::now();
        try {
            transport.Open(start + milliseconds(k.deadlineMs), k.connectMs);
            ADD_FAILURE() << k.what << ": opened";
        } catch (const TNetTransportError& e) {
            EXPECT_EQ(e.message.rfind("Não foi possível conectar ao servidor de aplicação " +
                                          where + ": " + k.reason,
                                      0),
                      0u)
                << k.what << ": " << e.message;
            EXPECT_FALSE(e.sent) << k.what;
            EXPECT_EQ(e.retry, k.retry) << k.what;
        }
        const auto took = Clock::now() - start;
        EXPECT_GE(took, milliseconds(k.tookAtLeastMs)) << k.what;
        EXPECT_LT(took, milliseconds(3000)) << k.what;
        // Nothing stays open: a request is refused without being sent.
        EXPECT_TRUE(transport.Stale()) << k.what;
        try {
            transport.Exchange({}, Clock::now() + milliseconds(1000));
            ADD_FAILURE() << k.what << ": exchanged";
        } catch (const TNetTransportError& e) {
            EXPECT_EQ(e.message, "Não foi possível conectar ao servidor de aplicação " + where +
                                     ": conexão encerrada pelo servidor.");
            EXPECT_FALSE(e.sent) << k.what;
        }
    }
}
