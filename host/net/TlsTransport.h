// TNetConnection's requests over one persistent HTTPS connection (Boost.Beast over OpenSSL),
// opened anew when the server closed it. The server's certificate must chain to the system's
// authorities (or those of the CA file) and name the host; TLS 1.2 or later. Answers over
// TNetConnection::AnswerLimit are refused as they are read.
#pragma once

#include "net/SocketTransport.h"

class TTlsTransport : public TSocketTransport {
public:
    // caFile: authorities trusted besides the system's ("" for none).
    TTlsTransport(String host, int port, size_t answerLimit, String caFile);

private:
    struct Secure;
};
