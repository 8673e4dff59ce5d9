#include "services/mqtt/PahoClient.h"

#include <MQTTAsync.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <thread>
#include <vector>

namespace ctl::mqtt {
namespace {

// An incoming payload longer than this is no birth message: it is not even looked at.
constexpr int MAX_INCOMING_PAYLOAD = 4096;

// Paho's trace is one per process, as is our client.
std::atomic<PahoClient*> g_traced{nullptr};

MQTTAsync handleOf(void* handle) {
    return static_cast<MQTTAsync>(handle);
}

}  // namespace

struct PahoCallbacks {
    static void connected(void* context, MQTTAsync_successData5* /*response*/) {
        static_cast<PahoClient*>(context)->m_listener.connected();
    }

    static void connectFailed(void* context, MQTTAsync_failureData5* response) {
        auto* client = static_cast<PahoClient*>(context);
        std::string why = "the connection failed";
        if (response != nullptr) {
            // A refusal in the CONNACK comes as its reason code, in one field or the other.
            const int reason = response->reasonCode != MQTTREASONCODE_SUCCESS
                                   ? static_cast<int>(response->reasonCode)
                                   : std::max(response->code, 0);
            if (reason >= MQTTREASONCODE_UNSPECIFIED_ERROR) {
                why = std::string("the broker refused the connection: ") +
                      MQTTReasonCode_toString(static_cast<MQTTReasonCodes>(reason));
            } else if (response->message != nullptr) {
                why = response->message;
            } else {
                why = MQTTAsync_strerror(response->code);
            }
        }
        {
            std::lock_guard lock(client->m_mutex);
            if (!client->m_tlsError.empty()) {
                why += " (TLS: " + client->m_tlsError + ")";
                client->m_tlsError.clear();
            }
        }
        client->m_listener.connectFailed(why);
    }

    static void connectionLost(void* context, char* cause) {
        auto* client = static_cast<PahoClient*>(context);
        client->m_listener.connectionLost(cause != nullptr ? cause : "the connection was lost");
        if (cause != nullptr) {
            MQTTAsync_free(cause);
        }
    }

    static int messageArrived(void* context, char* topic, int topicLength,
                              MQTTAsync_message* message) {
        auto* client = static_cast<PahoClient*>(context);
        const std::string name = topicLength > 0
                                     ? std::string(topic, static_cast<std::size_t>(topicLength))
                                     : std::string(topic);
        if (message != nullptr && message->payloadlen >= 0 &&
            message->payloadlen <= MAX_INCOMING_PAYLOAD) {
            client->m_listener.messageArrived(
                name, std::string(static_cast<const char*>(message->payload),
                                  static_cast<std::size_t>(message->payloadlen)));
        }
        MQTTAsync_freeMessage(&message);
        MQTTAsync_free(topic);
        return 1;
    }

    static void delivered(void* context, MQTTAsync_token token) {
        auto* client = static_cast<PahoClient*>(context);
        std::lock_guard lock(client->m_mutex);
        if (client->m_outstanding.erase(token) == 0) {
            // Acknowledged before publish() had noted it.
            client->m_early.insert(token);
        }
    }

    static int tlsError(const char* text, std::size_t length, void* context) {
        auto* client = static_cast<PahoClient*>(context);
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
    static MQTTAsync_SSLOptions ssl(PahoClient& client) {
        auto orNull = [](const std::string& text) { return text.empty() ? nullptr : text.c_str(); };
        MQTTAsync_SSLOptions options = MQTTAsync_SSLOptions_initializer;
        options.trustStore = orNull(client.m_settings.caFile);
        options.keyStore = orNull(client.m_settings.certFile);
        options.privateKey = orNull(client.m_settings.keyFile);
        options.enableServerCertAuth = 1;
        options.verify = 1;
        options.ssl_error_cb = &tlsError;
        options.ssl_error_context = &client;
        return options;
    }

    static void trace(enum MQTTASYNC_TRACE_LEVELS /*level*/, char* message) {
        PahoClient* client = g_traced.load();
        if (client == nullptr || message == nullptr) {
            return;
        }
        std::string text(message);
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (text.find("persist") != std::string::npos) {
            client->m_listener.persistenceFailed();
        }
    }
};

PahoClient::PahoClient(Settings settings, Listener& listener)
    : m_settings(std::move(settings)), m_listener(listener) {}

PahoClient::~PahoClient() {
    if (m_handle != nullptr) {
        MQTTAsync handle = handleOf(m_handle);
        MQTTAsync_destroy(&handle);
    }
    PahoClient* self = this;
    g_traced.compare_exchange_strong(self, nullptr);
}

std::string PahoClient::create() {
    g_traced.store(this);
    MQTTAsync_setTraceLevel(MQTTASYNC_TRACE_ERROR);
    MQTTAsync_setTraceCallback(&PahoCallbacks::trace);

    MQTTAsync_createOptions options = MQTTAsync_createOptions_initializer5;
    options.sendWhileDisconnected = 1;
    // A reading taken before the first connection (the vehicle starts in a car park) is kept.
    options.allowDisconnectedSendAtAnyTime = 1;
    options.maxBufferedMessages = m_settings.maxBuffered;
    options.deleteOldestMessages = 1;
    options.restoreMessages = 1;
    options.persistQoS0 = 0;  // nothing is sent at QoS 0
    const bool persistent = !m_settings.persistenceFolder.empty();
    MQTTAsync handle = nullptr;
    const int rc = MQTTAsync_createWithOptions(
        &handle, m_settings.broker.pahoUri().c_str(), m_settings.clientId.c_str(),
        persistent ? MQTTCLIENT_PERSISTENCE_DEFAULT : MQTTCLIENT_PERSISTENCE_NONE,
        persistent ? const_cast<char*>(m_settings.persistenceFolder.c_str()) : nullptr, &options);
    if (rc != MQTTASYNC_SUCCESS) {
        return MQTTAsync_strerror(rc);
    }
    m_handle = handle;
    MQTTAsync_setCallbacks(handle, this, &PahoCallbacks::connectionLost,
                           &PahoCallbacks::messageArrived, &PahoCallbacks::delivered);
    // What an earlier run left undelivered is ours to count too.
    MQTTAsync_token* tokens = nullptr;
    if (MQTTAsync_getPendingTokens(handle, &tokens) == MQTTASYNC_SUCCESS && tokens != nullptr) {
        std::lock_guard lock(m_mutex);
        for (const MQTTAsync_token* token = tokens; *token != -1; ++token) {
            m_outstanding.insert(*token);
        }
        m_restored = m_outstanding.size();
    }
    if (tokens != nullptr) {
        MQTTAsync_free(tokens);
    }
    return {};
}

void PahoClient::connect() {
    {
        std::lock_guard lock(m_mutex);
        m_tlsError.clear();
    }
    MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer5;
    options.keepAliveInterval = m_settings.keepAliveSeconds;
    // The session, and with it what is in flight, outlives the connection.
    options.cleanstart = 0;
    options.connectTimeout = 10;
    // The caller schedules the attempts: with jitter, which Paho's reconnect has not.
    options.automaticReconnect = 0;
    options.onSuccess5 = &PahoCallbacks::connected;
    options.onFailure5 = &PahoCallbacks::connectFailed;
    options.context = this;

    MQTTAsync_willOptions will = MQTTAsync_willOptions_initializer;
    will.topicName = m_settings.willTopic.c_str();
    will.message = "offline";
    will.retained = 1;
    will.qos = 1;
    options.will = &will;

    if (!m_settings.username.empty()) {
        options.username = m_settings.username.c_str();
    }
    if (m_settings.password) {
        options.binarypwd.data = m_settings.password->data();
        options.binarypwd.len = static_cast<int>(m_settings.password->size());
    }
    MQTTAsync_SSLOptions ssl = PahoCallbacks::ssl(*this);
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
        m_listener.connectFailed(MQTTAsync_strerror(rc));
    }
}

bool PahoClient::publish(const std::string& topic, const std::string& payload, bool retained,
                         unsigned expirySeconds, std::string& error) {
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
    MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
    const int rc = MQTTAsync_sendMessage(handleOf(m_handle), topic.c_str(), &message, &options);
    MQTTProperties_free(&message.properties);
    if (rc != MQTTASYNC_SUCCESS) {
        error = MQTTAsync_strerror(rc);
        return false;
    }
    bool full = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_early.erase(options.token) == 0) {
            m_outstanding.insert(options.token);
        }
        full = m_outstanding.size() >= static_cast<std::size_t>(m_settings.maxBuffered);
    }
    // Only a full buffer drops, and only while a message is added.
    if (full) {
        reconcile();
    }
    return true;
}

void PahoClient::reconcile() {
    // Paho's lock is taken without ours: its callbacks take ours while holding it.
    MQTTAsync_token* tokens = nullptr;
    if (MQTTAsync_getPendingTokens(handleOf(m_handle), &tokens) != MQTTASYNC_SUCCESS) {
        return;
    }
    std::unordered_set<int> pending;
    for (const MQTTAsync_token* token = tokens; token != nullptr && *token != -1; ++token) {
        pending.insert(*token);
    }
    if (tokens != nullptr) {
        MQTTAsync_free(tokens);
    }
    // A token gone from Paho's lists was acknowledged (and taken out by then, under Paho's
    // lock) or dropped.
    std::lock_guard lock(m_mutex);
    std::uint64_t gone = 0;
    for (auto it = m_outstanding.begin(); it != m_outstanding.end();) {
        if (pending.contains(*it)) {
            ++it;
        } else {
            it = m_outstanding.erase(it);
            ++gone;
        }
    }
    m_dropped += gone;
}

void PahoClient::subscribe(const std::string& topic) {
    MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
    options.subscribeOptions.retainHandling = 1;
    MQTTAsync_subscribe(handleOf(m_handle), topic.c_str(), 1, &options);
}

void PahoClient::disconnect(std::chrono::milliseconds flush) {
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

bool PahoClient::isConnected() {
    return m_handle != nullptr && MQTTAsync_isConnected(handleOf(m_handle)) != 0;
}

std::size_t PahoClient::pending() {
    std::lock_guard lock(m_mutex);
    return m_outstanding.size();
}

std::unique_ptr<MqttClient> makePahoClient(const MqttClient::Settings& settings,
                                           MqttClient::Listener& listener) {
    return std::make_unique<PahoClient>(settings, listener);
}

}  // namespace ctl::mqtt
