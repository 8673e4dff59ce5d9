// The steps of diagnoseConnection (ConnectDiagnosis.h) that share a deadline: the TLS
// handshake with the broker on a socket already connected, and what both files say with.
#pragma once

#include <chrono>
#include <string>

#include "services/mqtt/ConnectDiagnosis.h"

namespace ctl::mqtt::probe {

using Clock = std::chrono::steady_clock;

// "3 s", "0.5 s".
std::string secondsText(std::chrono::milliseconds duration);
// Whether `fd` is ready for `events` (or failed) before the deadline.
bool ready(int fd, short events, Clock::time_point deadline);
// A text from outside (a name a certificate or a resolver gives), escaped and cut to a length
// a line can hold.
std::string outside(std::string text);

// A TLS handshake on `fd` (connected, non-blocking) as the MQTT client makes it: the target's
// CA file or the system's CAs, its client certificate, `host` verified as a name (`named`) or
// an address and sent as SNI. One line on what fails, empty when the broker took it all.
// `where` is HOST:PORT for the lines.
std::string tlsHandshake(const DiagnosisTarget& target, const std::string& host, bool named,
                         const std::string& where, int fd, Clock::time_point deadline);

}  // namespace ctl::mqtt::probe
