// Why a broker cannot be reached, found over real sockets: Debian's mosquitto with a TLS
// listener for each certificate (made with the openssl CLI: a good one, one for other names,
// an expired one, one not yet valid, one with a control byte in its name, one listener that
// wants a client certificate), sockets of the test's own that never answer, and the words
// for the reason codes a broker sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "services/mqtt/ConnectDiagnosis.h"
#include "services/mqtt/tests/MqttRig.h"

namespace {

using namespace ctl::mqtt;
using namespace std::chrono_literals;

// A listener on 127.0.0.1 nobody accepts from: the kernel completes the TCP handshake and
// nobody speaks. `full`: its backlog of one is taken by a connection of its own, so that the
// next SYN goes unanswered.
class SilentListener {
public:
    explicit SilentListener(bool full) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 0) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        m_port = ntohs(address.sin_port);
        if (full &&
            ::connect(m_filler, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            m_port = 0;
        }
    }
    ~SilentListener() {
        ::close(m_filler);
        ::close(m_listener);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int port() const { return m_port; }

private:
    int m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int m_filler = ::socket(AF_INET, SOCK_STREAM, 0);
    int m_port = 0;
};

// The certificates, and mosquitto with a listener for each.
class Brokers {
public:
    enum Listener { PLAIN, GOOD, NAMES, EXPIRED, FUTURE, CONTROL, CLIENT, COUNT };

    explicit Brokers(const rig::TempFolder& folder) : m_folder(folder) {
        const std::string cd = "cd " + folder.path() + " && openssl ";
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        rig::writeFile(folder / "good.cnf", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
        rig::writeFile(folder / "names.cnf", "subjectAltName=DNS:broker.a,DNS:*.b.test\n");
        // `openssl ca` sets the dates a certificate is valid between, in the past or future.
        rig::writeFile(folder / "ca.cnf",
                       "[ca]\ndefault_ca = test\n[test]\ndatabase = index.txt\nnew_certs_dir = "
                       ".\nserial = serial\ndefault_md = sha256\npolicy = any\nunique_subject = "
                       "no\n[any]\ncommonName = supplied\n");
        rig::writeFile(folder / "index.txt", "");
        rig::writeFile(folder / "serial", "1000\n");
        const std::string sign = "x509 -req -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 ";
        const std::string dated =
            "ca -batch -notext -config ca.cnf -cert ca.crt -keyfile ca.key -extfile good.cnf ";
        m_ready = rig::run(cd + "req -x509 " + key + "-days 2 -subj /CN=ostrel-test-ca " +
                           "-keyout ca.key -out ca.crt") &&
                  rig::run(cd + "req -x509 " + key + "-days 2 -subj /CN=other-ca " +
                           "-keyout other-ca.key -out other-ca.crt") &&
                  rig::run(cd + "req " + key +
                           "-subj /CN=127.0.0.1 -keyout server.key -out server.csr") &&
                  rig::run(cd + sign + "-in server.csr -extfile good.cnf -out good.crt") &&
                  rig::run(cd + sign + "-in server.csr -extfile names.cnf -out names.crt") &&
                  rig::run(cd + dated + "-in server.csr -out expired.crt " +
                           "-startdate 20200101000000Z -enddate 20210101000000Z") &&
                  rig::run(cd + dated + "-in server.csr -out future.crt " +
                           "-startdate 20400101000000Z -enddate 20410101000000Z") &&
                  rig::run(cd + "req " + key + "-subj \"/CN=$(printf 'evil\\033[2Jname')\" " +
                           "-keyout control.key -out control.csr") &&
                  rig::run(cd + sign + "-in control.csr -out control.crt") &&
                  rig::run(cd + "req " + key + "-subj /CN=ostrel-client " +
                           "-keyout client.key -out client.csr") &&
                  rig::run(cd + sign + "-in client.csr -out client.crt") &&
                  rig::run(cd + "req " + key + "-subj /CN=stranger " +
                           "-keyout stranger.key -out stranger.csr") &&
                  rig::run(cd + "x509 -req -CA other-ca.crt -CAkey other-ca.key -CAcreateserial " +
                           "-days 2 -in stranger.csr -out stranger.crt");
        // "user root": a mosquitto started as root would become the user mosquitto otherwise,
        // which cannot read the keys here.
        std::string conf = "user root\nlog_dest file " + (folder / "mosquitto.log") + "\n";
        const char* certificates[COUNT] = {"",           "good.crt",    "names.crt", "expired.crt",
                                           "future.crt", "control.crt", "good.crt"};
        for (int listener = PLAIN; listener < COUNT; ++listener) {
            m_ports[listener] = rig::freePort();
            conf += "listener " + std::to_string(m_ports[listener]) + " 127.0.0.1\n";
            if (listener != PLAIN) {
                conf += "cafile " + (folder / "ca.crt") + "\ncertfile " +
                        (folder / certificates[listener]) + "\nkeyfile " +
                        (folder / (listener == CONTROL ? "control.key" : "server.key")) + "\n";
            }
        }
        conf += "require_certificate true\n";  // of the last listener, CLIENT
        rig::writeFile(folder / "mosquitto.conf", conf);
    }

    bool ready() const { return m_ready; }
    bool start() {
        m_process = std::make_unique<rig::Process>(
            std::vector<std::string>{rig::MOSQUITTO, "-c", m_folder / "mosquitto.conf"},
            m_folder / "broker.out", m_folder / "broker.err");
        return waitFor(
            [&] {
                return std::all_of(m_ports, m_ports + COUNT,
                                   [](int port) { return rig::accepts(port); });
            },
            10s);
    }
    std::string log() const { return rig::readFile(m_folder / "mosquitto.log"); }
    int port(Listener listener) const { return m_ports[listener]; }

private:
    const rig::TempFolder& m_folder;
    bool m_ready = false;
    int m_ports[COUNT] = {};
    std::unique_ptr<rig::Process> m_process;
};

BrokerAddress address(bool tls, const std::string& host, int port) {
    return {tls, host, port};
}

TEST(ConnectDiagnosis, SaysWhichStepFailsAndWhyOrNothingWhenAllSucceed) {
    for (const char* program : {rig::MOSQUITTO, "/usr/bin/openssl"}) {
        if (!std::filesystem::exists(program)) {
            GTEST_SKIP() << program << " is missing (make deps installs it)";
        }
    }
    rig::TempFolder folder;
    Brokers brokers(folder);
    ASSERT_TRUE(brokers.ready()) << "openssl failed";
    ASSERT_TRUE(brokers.start()) << brokers.log();
    const SilentListener unanswered(true);
    const SilentListener speechless(false);
    ASSERT_NE(unanswered.port(), 0);
    ASSERT_NE(speechless.port(), 0);
    const int refusing = rig::freePort();

    const std::string ca = folder / "ca.crt";
    auto tls = [&](Brokers::Listener listener, const std::string& host = "127.0.0.1") {
        return address(true, host, brokers.port(listener));
    };
    auto at = [&](Brokers::Listener listener) {
        return "127.0.0.1:" + std::to_string(brokers.port(listener));
    };
    struct Case {
        std::string what;
        DiagnosisTarget target;
        std::string said;  // the start of the line; empty: nothing
    };
    const std::vector<Case> cases{
        {"a name that does not resolve",
         {address(true, "broker.invalid", 8883), ca, "", "", 3s},
         "the name broker.invalid does not resolve ("},
        {"a port nobody listens on",
         {address(false, "127.0.0.1", refusing)},
         "127.0.0.1:" + std::to_string(refusing) +
             " refused the connection (nothing listens on that port)"},
        {"a SYN nobody answers",
         {address(false, "127.0.0.1", unanswered.port()), "", "", "", 500ms},
         "no answer from 127.0.0.1:" + std::to_string(unanswered.port()) + " within 0.5 s"},
        {"a TCP connection on which nobody speaks TLS",
         {address(true, "127.0.0.1", speechless.port()), ca, "", "", 500ms},
         "127.0.0.1:" + std::to_string(speechless.port()) +
             " took the connection but gave no TLS answer within 0.5 s"},
        {"TLS to a port without it",
         {tls(Brokers::PLAIN), ca},
         at(Brokers::PLAIN) + " ended the connection during the TLS handshake"},
        {"a certificate for other names, to an address",
         {tls(Brokers::NAMES), ca},
         "the broker's certificate is for broker.a, *.b.test, not 127.0.0.1: give broker one "
         "of its names"},
        {"a certificate for other names, to a name",
         {tls(Brokers::NAMES, "localhost"), ca},
         "the broker's certificate is for broker.a, *.b.test, not localhost"},
        {"a certificate whose name holds a control byte",
         {tls(Brokers::CONTROL), ca},
         "the broker's certificate is for evil\\x1b[2Jname, not 127.0.0.1"},
        {"an expired certificate",
         {tls(Brokers::EXPIRED), ca},
         "the broker's certificate expired on 2021-01-01 (valid from 2020-01-01 to 2021-01-01; "
         "the clock here says 20"},
        {"a certificate not valid yet",
         {tls(Brokers::FUTURE), ca},
         "the broker's certificate is not valid before 2040-01-01 (valid from 2040-01-01 to "
         "2041-01-01; the clock here says 20"},
        {"a CA file without the broker's CA",
         {tls(Brokers::GOOD), folder / "other-ca.crt"},
         "the broker's certificate is signed by CN=ostrel-test-ca, which ca_file " +
             (folder / "other-ca.crt") + " does not hold"},
        {"the system's CAs, which do not hold the broker's",
         {tls(Brokers::GOOD)},
         "the broker's certificate is signed by CN=ostrel-test-ca, which the system's trusted "
         "CAs do not hold"},
        {"no client certificate where one is wanted",
         {tls(Brokers::CLIENT), ca},
         "the broker asks for a client certificate: set cert_file and key_file"},
        {"a client certificate the broker does not trust",
         {tls(Brokers::CLIENT), ca, folder / "stranger.crt", folder / "stranger.key"},
         "the broker refused our client certificate CN=stranger (cert_file " +
             (folder / "stranger.crt") + "): it does not trust CN=other-ca, which signs it"},
        {"a key that is not the certificate's",
         {tls(Brokers::CLIENT), ca, folder / "client.crt", folder / "stranger.key"},
         "key_file " + (folder / "stranger.key") + " is not the key of cert_file " +
             (folder / "client.crt")},
        {"a good broker without TLS",
         {address(false, "127.0.0.1", brokers.port(Brokers::PLAIN))},
         ""},
        {"a good broker by its address", {tls(Brokers::GOOD), ca}, ""},
        {"a good broker by its name", {tls(Brokers::GOOD, "localhost"), ca}, ""},
        {"a good broker that takes our certificate",
         {tls(Brokers::CLIENT), ca, folder / "client.crt", folder / "client.key"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto start = std::chrono::steady_clock::now();
        const std::string said = diagnoseConnection(c.target);
        const auto took = std::chrono::steady_clock::now() - start;
        if (c.said.empty()) {
            EXPECT_EQ(said, "");
        } else {
            EXPECT_TRUE(said.starts_with(c.said)) << said;
        }
        EXPECT_EQ(said.find('\n'), std::string::npos) << said;
        // Never a hang: the timeout is the bound, whatever the other side does.
        EXPECT_LT(took, c.target.timeout + 2s);
    }
}

TEST(ConnectDiagnosis, ReasonCodesNameTheLoginOrClientIdAndTheKeyToChange) {
    struct Case {
        int code;
        std::string username;
        std::string clientId;
        std::string said;
    };
    const std::vector<Case> cases{
        {0x86, "car", "car7",
         "the broker refused the login of user 'car' (bad user name or password): check "
         "username and password_file"},
        {0x86, "", "car7",
         "the broker wants a login (bad user name or password): set username and "
         "password_file"},
        {0x87, "car", "car7",
         "the broker does not let user 'car' in as client id 'car7' (not authorized): check "
         "username, password_file and the broker's access rules"},
        {0x85, "", "car\x1b[2J",
         "the broker does not take client id 'car\\x1b[2J' (client identifier not valid): "
         "choose another client_id"},
        {0xA3, "", "car7", "the broker refused the connection (reason code 0xA3)"},
        {0x00, "car", "car7", ""},
        {0x04, "car", "car7", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(brokerReasonText(c.code, c.username, c.clientId), c.said) << c.code;
    }
    for (int code = 0x80; code <= 0xFF; ++code) {
        const std::string said = brokerReasonText(code, "car", "car7");
        EXPECT_TRUE(said.starts_with("the broker") || said.starts_with("another client") ||
                    said.starts_with("a message"))
            << code << ": " << said;
        EXPECT_EQ(said.find('\n'), std::string::npos) << said;
    }
}

}  // namespace
