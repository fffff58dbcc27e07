#pragma once
// The host's application-server address: set by the host client from --server, else taken
// from the environment variable KX_SERVER ("HOST:PORT"), else 127.0.0.1:4711.
// Read again at every call, so a change takes effect on the next connection.

#include "rtl/SysUtils.h"

namespace Brannox {

String WebURL(); // the host part
int WebPort();
// True for an "https://HOST:PORT" address: the connection is TLS.
bool WebTls();
// "HOST:PORT" ("[v6]:PORT" for IPv6), optionally after "http://" or "https://"; "" goes back to
// KX_SERVER or the default.
// Raises Exception for a malformed address.
void SetServer(const String& hostPort);

} // namespace Brannox
