#include "services/mqtt/PahoClient.h"

#include <MQTTAsync.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace ctl::mqtt {
namespace {

// An incoming payload longer than this is neither a birth message, a value nor a profile:
// only its start is passed on.
constexpr int MAX_INCOMING_PAYLOAD = 64 * 1024;

MQTTAsync handleOf(void* handle) {
    return static_cast<MQTTAsync>(handle);
}

PahoClient::Attempt* attemptOf(void* context) {
    return static_cast<PahoClient::Attempt*>(context);
}

}  // namespace

struct PahoCallbacks {
    static void connected(void* context, MQTTAsync_successData5* response) {
        PahoClient::Attempt* attempt = attemptOf(context);
        if (!attempt->client->current(attempt)) {
            return;
        }
        bool sessionPresent = false;
        int aliases = 0;
        if (response != nullptr) {
            sessionPresent = response->alt.connect.sessionPresent != 0;
            if (MQTTProperties_hasProperty(&response->properties,
                                           MQTTPROPERTY_CODE_TOPIC_ALIAS_MAXIMUM) != 0) {
                aliases =
                    std::max(0, MQTTProperties_getNumericValue(
                                    &response->properties, MQTTPROPERTY_CODE_TOPIC_ALIAS_MAXIMUM));
            }
        }
        {
            std::lock_guard lock(attempt->client->m_mutex);
            attempt->client->m_aliasMaximum = aliases;
        }
        attempt->client->m_listener.connected(sessionPresent);
    }

    static void connectFailed(void* context, MQTTAsync_failureData5* response) {
        PahoClient::Attempt* attempt = attemptOf(context);
        PahoClient* client = attempt->client;
        if (!client->current(attempt)) {
            return;
        }
        std::string why = "the connection failed";
        int reason = 0;
        if (response != nullptr) {
            // A refusal in the CONNACK comes as its reason code, in one field or the other.
            reason = response->reasonCode != MQTTREASONCODE_SUCCESS
                         ? static_cast<int>(response->reasonCode)
                         : std::max(response->code, 0);
            if (reason >= MQTTREASONCODE_UNSPECIFIED_ERROR) {
                why = std::string("the broker refused the connection: ") +
                      MQTTReasonCode_toString(static_cast<MQTTReasonCodes>(reason));
            } else {
                reason = 0;
                why = response->message != nullptr ? response->message
                                                   : MQTTAsync_strerror(response->code);
            }
        }
        {
            std::lock_guard lock(client->m_mutex);
            if (!client->m_tlsError.empty()) {
                why += " (TLS: " + client->m_tlsError + ")";
                client->m_tlsError.clear();
            }
        }
        client->m_listener.connectFailed(why, reason);
    }

    // The broker's DISCONNECT, before the connection is lost: its reason is kept for that.
    static void disconnected(void* context, MQTTProperties* /*properties*/,
                             enum MQTTReasonCodes reason) {
        PahoClient::Attempt* attempt = attemptOf(context);
        if (attempt->client->current(attempt)) {
            std::lock_guard lock(attempt->client->m_mutex);
            attempt->client->m_disconnectReason = static_cast<int>(reason);
        }
    }

    static void connectionLost(void* context, char* cause) {
        PahoClient::Attempt* attempt = attemptOf(context);
        PahoClient* client = attempt->client;
        std::string why = cause != nullptr ? cause : "the connection was lost";
        if (cause != nullptr) {
            MQTTAsync_free(cause);
        }
        if (!client->current(attempt)) {
            return;
        }
        int reason = 0;
        {
            std::lock_guard lock(client->m_mutex);
            std::swap(reason, client->m_disconnectReason);
        }
        if (reason >= MQTTREASONCODE_UNSPECIFIED_ERROR) {
            why = std::string("the broker ended it: ") +
                  MQTTReasonCode_toString(static_cast<MQTTReasonCodes>(reason));
        }
        client->m_listener.connectionLost(why, reason);
    }

    static int messageArrived(void* context, char* topic, int topicLength,
                              MQTTAsync_message* message) {
        PahoClient::Attempt* attempt = attemptOf(context);
        const std::string name = topicLength > 0
                                     ? std::string(topic, static_cast<std::size_t>(topicLength))
                                     : std::string(topic);
        if (attempt->client->current(attempt) && message != nullptr && message->payloadlen >= 0) {
            // Enough of a long one to say that it is too long, no more.
            const int kept = std::min(message->payloadlen, MAX_INCOMING_PAYLOAD + 1);
            attempt->client->m_listener.messageArrived(
                name,
                std::string(static_cast<const char*>(message->payload),
                            static_cast<std::size_t>(kept)),
                message->retained != 0);
        }
        MQTTAsync_freeMessage(&message);
        MQTTAsync_free(topic);
        return 1;
    }

    static void delivered(void* context, MQTTAsync_token token) {
        PahoClient::Attempt* attempt = attemptOf(context);
        if (attempt->client->current(attempt)) {
            attempt->client->m_listener.delivered(token);
        }
    }

    static int tlsError(const char* text, std::size_t length, void* context) {
        auto* client = static_cast<PahoClient::Attempt*>(context)->client;
        std::string line(text, length);
        // OpenSSL's "THREAD:error:0A000086:SSL routines:FUNCTION:certificate verify failed:
        // FILE:LINE:": the reason, the fifth field from "error".
        if (const auto error = line.find(":error:"); error != std::string::npos) {
            line = line.substr(error + 1);
        }
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t colon = line.find(':'); colon != std::string::npos && fields.size() < 5;
             colon = line.find(':', start)) {
            fields.push_back(line.substr(start, colon - start));
            start = colon + 1;
        }
        const std::string reason = fields.size() == 5 && fields[0] == "error" ? fields[4] : line;
        std::lock_guard lock(client->m_mutex);
        // The first of the queue is the cause; what follows only reports it on.
        if (client->m_tlsError.empty()) {
            client->m_tlsError = reason.substr(0, reason.find('\n'));
        }
        return 1;
    }

    // TLS: the server's certificate checked against the CA, and naming the host.
    static MQTTAsync_SSLOptions ssl(PahoClient& client, PahoClient::Attempt* attempt) {
        auto orNull = [](const std::string& text) { return text.empty() ? nullptr : text.c_str(); };
        MQTTAsync_SSLOptions options = MQTTAsync_SSLOptions_initializer;
        options.trustStore = orNull(client.m_settings.caFile);
        options.keyStore = orNull(client.m_settings.certFile);
        options.privateKey = orNull(client.m_settings.keyFile);
        options.enableServerCertAuth = 1;
        options.verify = 1;
        options.ssl_error_cb = &tlsError;
        options.ssl_error_context = attempt;
        return options;
    }
};

PahoClient::PahoClient(Settings settings, Listener& listener)
    : m_settings(std::move(settings)), m_listener(listener) {}

PahoClient::~PahoClient() {
    destroy();
}

bool PahoClient::current(const Attempt* attempt) {
    std::lock_guard lock(m_mutex);
    return attempt->number == m_attempt;
}

void PahoClient::destroy() {
    if (m_handle != nullptr) {
        MQTTAsync handle = handleOf(m_handle);
        MQTTAsync_destroy(&handle);
        m_handle = nullptr;
    }
}

std::string PahoClient::make() {
    destroy();
    MQTTAsync_createOptions options = MQTTAsync_createOptions_initializer5;
    // Sent only on a connection: what is not acknowledged is the publisher's to send again.
    options.sendWhileDisconnected = 0;
    // A discovery in the entity form with the parameters is over a hundred messages a
    // controller, sent at once; the publisher's own queue bounds the readings.
    options.maxBufferedMessages = 4000;
    MQTTAsync handle = nullptr;
    const int rc = MQTTAsync_createWithOptions(&handle, m_settings.broker.pahoUri().c_str(),
                                               m_settings.clientId.c_str(),
                                               MQTTCLIENT_PERSISTENCE_NONE, nullptr, &options);
    if (rc != MQTTASYNC_SUCCESS) {
        return MQTTAsync_strerror(rc);
    }
    m_handle = handle;
    {
        std::lock_guard lock(m_mutex);
        ++m_attempt;
        m_tlsError.clear();
        m_disconnectReason = 0;
        m_aliasMaximum = 0;
    }
    m_aliases.clear();
    m_attempts.push_back(std::make_unique<Attempt>(Attempt{this, m_attempt}));
    while (m_attempts.size() > 2) {
        m_attempts.pop_front();
    }
    void* context = m_attempts.back().get();
    MQTTAsync_setCallbacks(handle, context, &PahoCallbacks::connectionLost,
                           &PahoCallbacks::messageArrived, &PahoCallbacks::delivered);
    MQTTAsync_setDisconnected(handle, context, &PahoCallbacks::disconnected);
    return {};
}

std::string PahoClient::create() {
    MQTTAsync_setTraceLevel(MQTTASYNC_TRACE_FATAL);
    return make();
}

void PahoClient::connect(bool cleanStart) {
    if (const std::string error = make(); !error.empty()) {
        m_listener.connectFailed(error, 0);
        return;
    }
    Attempt* attempt = m_attempts.back().get();
    MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer5;
    options.keepAliveInterval = m_settings.keepAliveSeconds;
    options.cleanstart = cleanStart ? 1 : 0;
    options.connectTimeout = 10;
    // The caller schedules the attempts: with jitter, which Paho's reconnect has not.
    options.automaticReconnect = 0;
    options.onSuccess5 = &PahoCallbacks::connected;
    options.onFailure5 = &PahoCallbacks::connectFailed;
    options.context = attempt;

    MQTTAsync_willOptions will = MQTTAsync_willOptions_initializer;
    will.topicName = m_settings.willTopic.c_str();
    will.message = "offline";
    will.retained = 1;
    will.qos = 1;
    if (!m_settings.willTopic.empty()) {
        options.will = &will;
    }

    if (!m_settings.username.empty()) {
        options.username = m_settings.username.c_str();
    }
    if (m_settings.password) {
        options.binarypwd.data = m_settings.password->data();
        options.binarypwd.len = static_cast<int>(m_settings.password->size());
    }
    MQTTAsync_SSLOptions ssl = PahoCallbacks::ssl(*this, attempt);
    if (m_settings.broker.tls) {
        options.ssl = &ssl;
    }
    MQTTProperties properties = MQTTProperties_initializer;
    MQTTProperty expiry{};
    expiry.identifier = MQTTPROPERTY_CODE_SESSION_EXPIRY_INTERVAL;
    expiry.value.integer4 = m_settings.sessionExpirySeconds;
    MQTTProperties_add(&properties, &expiry);
    options.connectProperties = &properties;

    const int rc = MQTTAsync_connect(handleOf(m_handle), &options);
    MQTTProperties_free(&properties);
    if (rc != MQTTASYNC_SUCCESS) {
        m_listener.connectFailed(MQTTAsync_strerror(rc), 0);
    }
}

std::optional<int> PahoClient::publish(const std::string& topic, const std::string& payload,
                                       bool retained, unsigned expirySeconds, std::string& error) {
    if (m_handle == nullptr) {
        error = "not connected";
        return std::nullopt;
    }
    MQTTAsync_message message = MQTTAsync_message_initializer;
    message.payload = const_cast<char*>(payload.data());
    message.payloadlen = static_cast<int>(payload.size());
    message.qos = 1;
    message.retained = retained ? 1 : 0;
    if (expirySeconds > 0) {
        MQTTProperty expiry{};
        expiry.identifier = MQTTPROPERTY_CODE_MESSAGE_EXPIRY_INTERVAL;
        expiry.value.integer4 = expirySeconds;
        MQTTProperties_add(&message.properties, &expiry);
    }
    // The topics sent again and again (the states) go by a number after their first message.
    const char* name = topic.c_str();
    int aliasMaximum = 0;
    {
        std::lock_guard lock(m_mutex);
        aliasMaximum = m_aliasMaximum;
    }
    if (!retained && aliasMaximum > 0) {
        const auto known = m_aliases.find(topic);
        int alias = 0;
        if (known != m_aliases.end()) {
            alias = known->second;
            name = "";
        } else if (static_cast<int>(m_aliases.size()) < aliasMaximum) {
            alias = static_cast<int>(m_aliases.size()) + 1;
        }
        if (alias > 0) {
            MQTTProperty property{};
            property.identifier = MQTTPROPERTY_CODE_TOPIC_ALIAS;
            property.value.integer2 = static_cast<unsigned short>(alias);
            MQTTProperties_add(&message.properties, &property);
        }
        if (alias > 0 && known == m_aliases.end()) {
            m_aliases.emplace(topic, alias);
        }
    }
    MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
    const int rc = MQTTAsync_sendMessage(handleOf(m_handle), name, &message, &options);
    MQTTProperties_free(&message.properties);
    if (rc != MQTTASYNC_SUCCESS) {
        error = MQTTAsync_strerror(rc);
        return std::nullopt;
    }
    return options.token;
}

void PahoClient::subscribe(const std::string& topic) {
    if (m_handle == nullptr) {
        return;
    }
    MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
    options.subscribeOptions.retainHandling = 1;
    MQTTAsync_subscribe(handleOf(m_handle), topic.c_str(), 1, &options);
}

void PahoClient::disconnect(std::chrono::milliseconds flush) {
    if (m_handle == nullptr) {
        return;
    }
    MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
    options.struct_version = 1;
    options.timeout = static_cast<int>(flush.count());
    // The broker then says "offline" for us: the last will, as when the link breaks.
    options.reasonCode = MQTTREASONCODE_DISCONNECT_WITH_WILL_MESSAGE;
    if (MQTTAsync_disconnect(handleOf(m_handle), &options) != MQTTASYNC_SUCCESS) {
        return;
    }
    const auto until = std::chrono::steady_clock::now() + flush + std::chrono::seconds(1);
    while (isConnected() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void PahoClient::abandon() {
    {
        std::lock_guard lock(m_mutex);
        ++m_attempt;  // nothing more of it is heard
    }
    destroy();
}

bool PahoClient::isConnected() {
    return m_handle != nullptr && MQTTAsync_isConnected(handleOf(m_handle)) != 0;
}

std::unique_ptr<MqttClient> makePahoClient(const MqttClient::Settings& settings,
                                           MqttClient::Listener& listener) {
    return std::make_unique<PahoClient>(settings, listener);
}

}  // namespace ctl::mqtt
