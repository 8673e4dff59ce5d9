#include "services/mqtt/TlsProbe.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

#include "core/texts/OutsideText.h"

namespace ctl::mqtt::probe {
namespace {

constexpr std::size_t MAX_NAMES = 6;  // listed of a certificate's names

template <auto Free>
struct Freeing {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};

// What the lines say of a certificate.
struct CertificateFacts {
    std::string subject = "?";
    std::string issuer = "?";
    std::string validFrom = "?";  // 2024-01-01
    std::string validTo = "?";
    std::string names;  // its DNS and IP names, else its common name: "broker.a, *.b"
};

std::string nameText(const X509_NAME* name) {
    const std::unique_ptr<BIO, Freeing<BIO_free>> bio(BIO_new(BIO_s_mem()));
    if (name == nullptr || !bio ||
        X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
        return "?";
    }
    BUF_MEM* memory = nullptr;
    BIO_get_mem_ptr(bio.get(), &memory);
    return memory == nullptr ? "?" : outside(std::string(memory->data, memory->length));
}

std::string dateText(const ASN1_TIME* time) {
    std::tm date{};
    std::array<char, 16> text{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &date) != 1 ||
        std::strftime(text.data(), text.size(), "%Y-%m-%d", &date) == 0) {
        return "?";
    }
    return text.data();
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm date{};
    std::array<char, 16> text{};
    if (::gmtime_r(&now, &date) == nullptr ||
        std::strftime(text.data(), text.size(), "%Y-%m-%d", &date) == 0) {
        return "?";
    }
    return text.data();
}

std::string stringText(const ASN1_STRING* text) {
    const int length = ASN1_STRING_length(text);
    return length <= 0
               ? std::string()
               : outside(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                                     static_cast<std::size_t>(length)));
}

std::string namesText(X509* certificate) {
    std::vector<std::string> names;
    std::size_t more = 0;
    auto add = [&](std::string name) {
        if (names.size() < MAX_NAMES) {
            names.push_back(std::move(name));
        } else {
            ++more;
        }
    };
    const std::unique_ptr<GENERAL_NAMES, Freeing<GENERAL_NAMES_free>> alternatives(
        static_cast<GENERAL_NAMES*>(
            X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
    const int count = alternatives ? sk_GENERAL_NAME_num(alternatives.get()) : 0;
    for (int i = 0; i < count; ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
        if (name->type == GEN_DNS) {
            add(stringText(name->d.dNSName));
        } else if (name->type == GEN_IPADD) {
            const int length = ASN1_STRING_length(name->d.iPAddress);
            std::array<char, INET6_ADDRSTRLEN> text{};
            if ((length == 4 || length == 16) &&
                ::inet_ntop(length == 4 ? AF_INET : AF_INET6,
                            ASN1_STRING_get0_data(name->d.iPAddress), text.data(),
                            text.size()) != nullptr) {
                add(text.data());
            }
        }
    }
    if (names.empty() && more == 0) {
        // Without alternative names a client may still go by the common name.
        const X509_NAME* subject = X509_get_subject_name(certificate);
        const int at = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
        if (at >= 0) {
            add(stringText(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at))));
        }
    }
    if (names.empty()) {
        return "no name";
    }
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return more == 0 ? text : text + " and " + std::to_string(more) + " more";
}

CertificateFacts factsOf(X509* certificate) {
    CertificateFacts facts;
    if (certificate != nullptr) {
        facts.subject = nameText(X509_get_subject_name(certificate));
        facts.issuer = nameText(X509_get_issuer_name(certificate));
        facts.validFrom = dateText(X509_get0_notBefore(certificate));
        facts.validTo = dateText(X509_get0_notAfter(certificate));
        facts.names = namesText(certificate);
    }
    return facts;
}

struct TlsState {
    int verifyError = X509_V_OK;  // the first one met
    int depth = 0;                // of the certificate it concerns, 0 for the broker's own
    CertificateFacts failed;
    bool ticket = false;  // the broker sent a session ticket: it took our side of the handshake
};

constexpr int STATE_INDEX = 0;  // the application's slot of an SSL's extra data

TlsState* stateOf(const SSL* ssl) {
    return ssl == nullptr ? nullptr : static_cast<TlsState*>(SSL_get_ex_data(ssl, STATE_INDEX));
}

int verifyCertificate(int ok, X509_STORE_CTX* store) {
    TlsState* state = stateOf(static_cast<const SSL*>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx())));
    if (ok != 1 && state != nullptr && state->verifyError == X509_V_OK) {
        state->verifyError = X509_STORE_CTX_get_error(store);
        state->depth = X509_STORE_CTX_get_error_depth(store);
        state->failed = factsOf(X509_STORE_CTX_get_current_cert(store));
    }
    return ok;
}

int sessionTicket(SSL* ssl, SSL_SESSION* /*session*/) {
    if (TlsState* state = stateOf(ssl)) {
        state->ticket = true;
    }
    return 0;  // not kept: OpenSSL frees it
}

int noPassphrase(char* /*buffer*/, int /*size*/, int /*writing*/, void* /*data*/) {
    return 0;  // an encrypted key is refused, never asked for on a terminal
}

std::string opensslReason(unsigned long error) {
    const char* reason = ERR_reason_error_string(error);
    return reason != nullptr ? reason : "error " + std::to_string(ERR_GET_REASON(error));
}

// Why the broker's certificate does not verify.
std::string certificateWords(const TlsState& state, const DiagnosisTarget& target,
                             const std::string& host) {
    const CertificateFacts& cert = state.failed;
    const std::string whose = state.depth == 0
                                  ? "the broker's certificate"
                                  : "the certificate " + cert.subject + " in the broker's chain";
    const std::string missing = target.caFile.empty()
                                    ? "the system's trusted CAs do not hold"
                                    : "ca_file " + escapeControls(target.caFile) + " does not hold";
    const std::string period = " (valid from " + cert.validFrom + " to " + cert.validTo +
                               "; the clock here says " + today() + ")";
    switch (state.verifyError) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "the broker's certificate is for " + cert.names + ", not " + outside(host) +
                   ": give broker one of its names";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return whose + " expired on " + cert.validTo + period;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return whose + " is not valid before " + cert.validFrom + period;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            return "the broker's certificate " + cert.subject + " signs itself, and " + missing +
                   " it";
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return "the broker's certificate is signed by " + cert.subject + ", which " + missing;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return whose + " is signed by " + cert.issuer + ", which " + missing;
        default:
            return whose + " does not verify (" + X509_verify_cert_error_string(state.verifyError) +
                   ")";
    }
}

// Why the handshake failed otherwise: an alert from the broker, or no TLS at all.
std::string alertWords(unsigned long error, const DiagnosisTarget& target, SSL_CTX* context,
                       const std::string& where) {
    const std::string reason = opensslReason(error);
    const bool ours = !target.certFile.empty();
    const CertificateFacts mine = factsOf(SSL_CTX_get0_certificate(context));
    const std::string refused = "the broker refused our client certificate " + mine.subject +
                                " (cert_file " + escapeControls(target.certFile) + ")";
    switch (ERR_GET_LIB(error) == ERR_LIB_SSL ? ERR_GET_REASON(error) : 0) {
        case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
            return ours ? refused + ": " + reason
                        : "the broker asks for a client certificate: set cert_file and key_file";
        case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
            return ours ? refused + ": it does not trust " + mine.issuer + ", which signs it"
                        : "the broker refused the TLS handshake (" + reason + ")";
        case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
            return ours ? refused + ": it takes it for expired (valid from " + mine.validFrom +
                              " to " + mine.validTo + ")"
                        : "the broker refused the TLS handshake (" + reason + ")";
        case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
        case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
        case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
            return ours ? refused + " (" + reason + ")"
                        : "the broker refused the TLS handshake (" + reason + ")";
        case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
            return ours ? "the broker refused the TLS handshake (" + reason + ")"
                        : "the broker refused the TLS handshake (" + reason +
                              "): it may want a client certificate (cert_file and key_file)";
        case SSL_R_WRONG_VERSION_NUMBER:
        case SSL_R_PACKET_LENGTH_TOO_LONG:
        case SSL_R_RECORD_LENGTH_MISMATCH:
            return where + " does not answer in TLS (" + reason +
                   "): a port without TLS is mqtt://, not mqtts://";
        default:
            return "the TLS handshake with " + where + " failed (" + reason + ")";
    }
}

enum class Io { Done, Failed, Closed, TimedOut };

// Sends what OpenSSL wrote for the broker.
Io flush(BIO* network, int fd, Clock::time_point deadline) {
    std::array<char, 4096> buffer{};
    for (;;) {
        const int size = BIO_read(network, buffer.data(), static_cast<int>(buffer.size()));
        if (size <= 0) {
            return Io::Done;
        }
        for (std::size_t sent = 0; sent < static_cast<std::size_t>(size);) {
            const ssize_t count = ::send(fd, buffer.data() + sent,
                                         static_cast<std::size_t>(size) - sent, MSG_NOSIGNAL);
            if (count > 0) {
                sent += static_cast<std::size_t>(count);
            } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (!ready(fd, POLLOUT, deadline)) {
                    return Io::TimedOut;
                }
            } else {
                return Io::Closed;
            }
        }
    }
}

// Hands OpenSSL what the broker sent, at most what it has room for.
Io fill(BIO* network, int fd, Clock::time_point deadline) {
    if (!ready(fd, POLLIN, deadline)) {
        return Io::TimedOut;
    }
    std::array<char, 16384> buffer{};
    const std::size_t room = std::min(buffer.size(), BIO_ctrl_get_write_guarantee(network));
    if (room == 0) {
        return Io::Failed;
    }
    ssize_t count = 0;
    do {
        count = ::recv(fd, buffer.data(), room, 0);
    } while (count < 0 && errno == EINTR);
    if (count < 0 && errno == EAGAIN) {
        return Io::Done;
    }
    if (count <= 0) {
        return Io::Closed;
    }
    return BIO_write(network, buffer.data(), static_cast<int>(count)) == count ? Io::Done
                                                                               : Io::Failed;
}

// Runs `operation` (the handshake, a read) until it succeeds or `enough`, carrying the bytes
// between OpenSSL and the socket; the broker writes to the socket, never to us directly,
// so a peer that closed cannot raise SIGPIPE.
Io drive(SSL* ssl, BIO* network, int fd, Clock::time_point deadline,
         const std::function<int()>& operation, const std::function<bool()>& enough) {
    for (;;) {
        ERR_clear_error();
        const int result = operation();
        const int error = result > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl, result);
        const Io sent = flush(network, fd, deadline);
        if (result > 0 || enough()) {
            return Io::Done;
        }
        if (error == SSL_ERROR_ZERO_RETURN) {
            return Io::Closed;
        }
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            return Io::Failed;
        }
        if (sent != Io::Done) {
            return sent;
        }
        if (error == SSL_ERROR_WANT_READ) {
            if (const Io got = fill(network, fd, deadline); got != Io::Done) {
                return got;
            }
        }
    }
}

// The first error of OpenSSL's queue for this thread, which is then emptied.
unsigned long takeError() {
    const unsigned long error = ERR_peek_error();
    ERR_clear_error();
    return error;
}

}  // namespace

std::string tlsHandshake(const DiagnosisTarget& target, const std::string& host, bool named,
                         const std::string& where, int fd, Clock::time_point deadline) {
    const std::unique_ptr<SSL_CTX, Freeing<SSL_CTX_free>> context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        return "TLS cannot be set up (" + opensslReason(takeError()) + ")";
    }
    SSL_CTX* ctx = context.get();
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &verifyCertificate);
    SSL_CTX_set_default_passwd_cb(ctx, &noPassphrase);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, &sessionTicket);
    const std::string caFile = escapeControls(target.caFile);
    const std::string certFile = escapeControls(target.certFile);
    if (target.caFile.empty()
            ? SSL_CTX_set_default_verify_paths(ctx) != 1
            : SSL_CTX_load_verify_locations(ctx, target.caFile.c_str(), nullptr) != 1) {
        const std::string reason = opensslReason(takeError());
        return target.caFile.empty()
                   ? "the system's trusted CAs cannot be read (" + reason + ")"
                   : "ca_file " + caFile + " holds no CA certificate OpenSSL can read (" + reason +
                         ")";
    }
    if (!target.certFile.empty()) {
        const std::string& keyFile = target.keyFile.empty() ? target.certFile : target.keyFile;
        const std::string keyKey = target.keyFile.empty() ? "cert_file " : "key_file ";
        if (SSL_CTX_use_certificate_chain_file(ctx, target.certFile.c_str()) != 1) {
            return "cert_file " + certFile + " holds no certificate OpenSSL can use (" +
                   opensslReason(takeError()) + ")";
        }
        // OpenSSL holds the key against the certificate as it takes it.
        const bool taken = SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) == 1;
        const unsigned long error = taken ? 0 : takeError();
        if (taken ? SSL_CTX_check_private_key(ctx) != 1
                  : ERR_GET_LIB(error) == ERR_LIB_X509 &&
                        ERR_GET_REASON(error) == X509_R_KEY_VALUES_MISMATCH) {
            ERR_clear_error();
            return keyKey + escapeControls(keyFile) + " is not the key of cert_file " + certFile;
        }
        if (!taken) {
            return keyKey + escapeControls(keyFile) + " holds no key OpenSSL can use (" +
                   opensslReason(error) + "; a key with a passphrase is none)";
        }
    }

    const std::unique_ptr<SSL, Freeing<SSL_free>> connection(SSL_new(ctx));
    BIO* inner = nullptr;
    BIO* outer = nullptr;
    if (!connection || BIO_new_bio_pair(&inner, 0, &outer, 0) != 1) {
        return "TLS cannot be set up (" + opensslReason(takeError()) + ")";
    }
    const std::unique_ptr<BIO, Freeing<BIO_free>> network(outer);
    SSL* ssl = connection.get();
    SSL_set_bio(ssl, inner, inner);
    TlsState state;
    SSL_set_ex_data(ssl, STATE_INDEX, &state);
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    // SNI is for names only; SSL_set_tlsext_host_name() is a macro of this call with a C cast.
    const bool hostSet =
        named ? SSL_set1_host(ssl, host.c_str()) == 1 &&
                    SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                             const_cast<char*>(host.c_str())) == 1
              : X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    if (!hostSet) {
        return "TLS cannot be set up for " + where + " (" + opensslReason(takeError()) + ")";
    }

    const std::chrono::milliseconds timeout = target.timeout;
    const Io shaken = drive(
        ssl, network.get(), fd, deadline, [&] { return SSL_connect(ssl); }, [] { return false; });
    if (state.verifyError != X509_V_OK) {
        ERR_clear_error();
        return certificateWords(state, target, host);
    }
    switch (shaken) {
        case Io::Done:
            break;
        case Io::TimedOut:
            return where + " took the connection but gave no TLS answer within " +
                   secondsText(timeout);
        case Io::Closed:
            ERR_clear_error();
            return where +
                   " ended the connection during the TLS handshake (a port without TLS is "
                   "mqtt://, not mqtts://)";
        case Io::Failed:
            return alertWords(takeError(), target, ctx, where);
    }
    if (SSL_version(ssl) != TLS1_3_VERSION) {
        return {};  // the broker's Finished came after it took our certificate
    }
    // Under TLS 1.3 the broker judges our certificate after we are done: a session ticket
    // says it took it, an alert that it did not.
    std::array<char, 256> sink{};
    const Io after = drive(
        ssl, network.get(), fd, deadline,
        [&] { return SSL_read(ssl, sink.data(), static_cast<int>(sink.size())); },
        [&] { return state.ticket; });
    switch (after) {
        case Io::Done:
        case Io::TimedOut:  // a broker that gives no tickets: nothing refused
            ERR_clear_error();
            return {};
        case Io::Closed:
            ERR_clear_error();
            return where + " ended the connection right after the TLS handshake" +
                   (target.certFile.empty() ? "" : ", without a word on our client certificate");
        case Io::Failed:
            break;
    }
    return alertWords(takeError(), target, ctx, where);
}
}  // namespace ctl::mqtt::probe
