#include "TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// TLS 1.2: ECDHE or DHE key exchange (forward secrecy) with AES-GCM or ChaCha20-Poly1305 (AEAD).
const char* kTls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";
const char* kTls13Suites =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
const char* kGroups = "X25519:prime256v1:secp384r1";

// The first reason OpenSSL queued (the later ones only say which layer passed it on).
std::string OpensslReason() {
    const unsigned long first = ERR_get_error();
    ERR_clear_error();
    const char* reason = first ? ERR_reason_error_string(first) : nullptr;
    return reason ? reason : "erro desconhecido";
}

// Why the server cannot read the file, or "".
std::string ReadProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "o arquivo não existe" : std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "é uma pasta, não um arquivo";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES ? "o usuário do servidor não tem permissão de leitura"
                               : std::strerror(errno);
    ::close(fd);
    return "";
}

std::string Mode(mode_t mode) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
    return buf;
}

// Called by OpenSSL for an encrypted key: no one can answer, so the load fails and says why.
int NoPassphrase(char*, int, int, void* asked) {
    *static_cast<bool*>(asked) = true;
    return -1;
}

} // namespace

std::unique_ptr<boost::asio::ssl::context> MakeServerTlsContext(const std::string& certFile,
                                                                const std::string& keyFile,
                                                                const std::string& certOption,
                                                                const std::string& keyOption) {
    const std::string certName = "o certificado de " + certOption + " \"" + certFile + "\"";
    const std::string mismatch =
        " não corresponde ao certificado de " + certOption + " \"" + certFile + "\".";
    const std::string keyName = "a chave privada de " + keyOption + " \"" + keyFile + "\"";
    if (const std::string p = ReadProblem(certFile); !p.empty())
        throw TlsSetupError("não foi possível ler " + certName + ": " + p + ".");
    if (const std::string p = ReadProblem(keyFile); !p.empty())
        throw TlsSetupError("não foi possível ler " + keyName + ": " + p + ".");
    struct stat key {};
    ::stat(keyFile.c_str(), &key);
    if (key.st_mode & (S_IROTH | S_IWOTH))
        throw TlsSetupError(keyName +
                            " pode ser lida ou alterada por qualquer usuário (permissão " +
                            Mode(key.st_mode) +
                            "): restrinja-a, por exemplo com chmod 600 (ou chmod 640 e o grupo "
                            "do serviço).");

    auto tls = std::make_unique<boost::asio::ssl::context>(boost::asio::ssl::context::tls_server);
    SSL_CTX* ctx = tls->native_handle();
    ERR_clear_error();
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_cipher_list(ctx, kTls12Ciphers) != 1 ||
        SSL_CTX_set_ciphersuites(ctx, kTls13Suites) != 1 ||
        SSL_CTX_set1_groups_list(ctx, kGroups) != 1 || SSL_CTX_set_dh_auto(ctx, 1) != 1)
        throw TlsSetupError(
            "a biblioteca TLS recusou a configuração do servidor: " + OpensslReason() + ".");
    // No compression (CRIME), no renegotiation started by clients, and no session tickets, whose
    // key would outlive the connections it protects.
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET);

    if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1)
        throw TlsSetupError(certName + " não é um certificado em PEM utilizável (" +
                            OpensslReason() + ").");
    bool asked = false;
    SSL_CTX_set_default_passwd_cb(ctx, NoPassphrase);
    SSL_CTX_set_default_passwd_cb_userdata(ctx, &asked);
    const bool loaded = SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) == 1;
    SSL_CTX_set_default_passwd_cb(ctx, nullptr);
    SSL_CTX_set_default_passwd_cb_userdata(ctx, nullptr);
    if (!loaded && asked)
        throw TlsSetupError(keyName +
                            " está protegida por senha; o servidor precisa dela sem senha "
                            "(openssl pkey -in ARQUIVO -out NOVO), guardada só para o serviço.");
    if (!loaded) {
        const std::string reason = OpensslReason();
        if (reason == "key values mismatch") throw TlsSetupError(keyName + mismatch);
        throw TlsSetupError(keyName + " não é uma chave privada em PEM utilizável (" + reason +
                            ").");
    }
    if (SSL_CTX_check_private_key(ctx) != 1) throw TlsSetupError(keyName + mismatch);
    return tls;
}
