// TNetConnection's requests over one persistent HTTP/1.1 connection (Boost.Beast's parser on the
// socket read directly), opened anew when the server closed it. Answers over
// TNetConnection::AnswerLimit are refused as they are read.
#pragma once

#include "net/SocketTransport.h"

class TTcpTransport : public TSocketTransport {
public:
    // Without plainToRemote an address that is not this machine's is refused (ENetInsecure):
    // the operator's password would cross the network in clear.
    TTcpTransport(String host, int port, size_t answerLimit, bool plainToRemote = true);

private:
    struct Plain;
};
