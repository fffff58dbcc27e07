// The server's side of HTTPS: TLS 1.3, and TLS 1.2 with forward-secret AEAD suites only (the
// widely used "intermediate" server configuration), from a certificate chain and a private key in
// PEM files. Every refusal names the file and says what is wrong with it.
#pragma once

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <stdexcept>
#include <string>

struct TlsSetupError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// certOption and keyOption name where each path came from ("--tls-cert", "--tls-key (FILE:LINE)"),
// for the messages. A private key that users other than its owner and group may read or write is
// refused, as is one protected by a passphrase (nobody is there to type it when a service starts).
std::unique_ptr<boost::asio::ssl::context> MakeServerTlsContext(const std::string& certFile,
                                                                const std::string& keyFile,
                                                                const std::string& certOption,
                                                                const std::string& keyOption);
