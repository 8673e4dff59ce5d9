// Why the broker cannot be reached, in words a person can act on. Paho says "Failure" for a
// name that does not resolve and "TCP/TLS connect failure" for a refused port and a wrong
// certificate alike; after such an attempt the publisher retraces the steps itself (the name,
// the TCP connection, the TLS handshake with the same files) and says which one fails. A
// refusal the broker sent as an MQTT reason code has words of its own (brokerReasonText).
#pragma once

#include <chrono>
#include <string>

#include "services/mqtt/MqttConfig.h"

namespace ctl::mqtt {

struct DiagnosisTarget {
    BrokerAddress broker{};
    std::string caFile{};  // mqtts:// only; empty: the system's trusted CAs
    std::string certFile{};
    std::string keyFile{};  // empty: the key is in certFile
    // For all the steps together: the call returns within it (and a few milliseconds).
    std::chrono::milliseconds timeout{3000};
};

// One line saying which step fails and why, or empty when every step succeeded (then the
// MQTT layer's own reason stands). Blocks the calling thread for up to `target.timeout`; a
// name lookup still running then is left to finish on a thread of its own.
std::string diagnoseConnection(const DiagnosisTarget& target);

// The words for an MQTT 5 reason code of a CONNACK or DISCONNECT (0x80 and above), naming
// the user or client id where it matters and the configuration key to change: "the broker
// refused the login of user 'car7' (bad user name or password): check username and
// password_file". Empty for a code below 0x80, which is no refusal.
std::string brokerReasonText(int reasonCode, const std::string& username,
                             const std::string& clientId);

}  // namespace ctl::mqtt
