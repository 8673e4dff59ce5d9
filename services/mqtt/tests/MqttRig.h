// Real components for the MQTT tests and the benchmark: Debian's mosquitto on free ports of
// 127.0.0.1 (or of another address of the test's own) with a password file and a TLS
// listener (a CA and certificates made with openssl), mosquitto_sub as the subscriber, and
// processes to start, signal and kill.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/WaitFor.h"

// NOLINTNEXTLINE(readability-redundant-declaration): POSIX leaves it to the program.
extern char** environ;

namespace rig {

inline constexpr const char* MOSQUITTO = "/usr/sbin/mosquitto";
inline constexpr const char* USER = "ostrel";
inline constexpr const char* PASSWORD = "s3cret pass";

inline std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

// A folder of its own under the temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder() {
        std::string name = (std::filesystem::temp_directory_path() / "ostrel-mqtt-XXXXXX").string();
        m_path = ::mkdtemp(name.data()) != nullptr ? name : std::string();
    }
    ~TempFolder() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A port nobody listens on now (the kernel's choice for a bind to port 0).
inline int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

// The probe comes from PROBE_SOURCE: a broker still starting logs its connection late, and
// its log must not count it among the connections of the program under test.
constexpr const char* PROBE_SOURCE = "127.0.0.2";
inline bool accepts(int port, const std::string& host = "127.0.0.1") {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, PROBE_SOURCE, &address.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// One program, its output in files; killed with SIGKILL when still running at the end.
class Process {
public:
    Process(std::vector<std::string> argv, const std::string& out, const std::string& err,
            const std::map<std::string, std::string>& environment = {}) {
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (!environment.contains(text.substr(0, text.find('=')))) {
                env.push_back(text);
            }
        }
        for (const auto& [name, value] : environment) {
            env.push_back(name);
            env.back() += "=" + value;
        }
        std::vector<char*> args;
        for (std::string& arg : argv) {
            args.push_back(arg.data());
        }
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& entry : env) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        if (::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (running()) {
            signal(SIGKILL);
            wait(std::chrono::seconds(10));
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return m_pid > 0; }
    bool running() const { return m_pid > 0 && !m_status; }
    void signal(int number) const {
        if (running()) {
            ::kill(m_pid, number);
        }
    }
    // The exit status (128 + signal when killed); nullopt when still running after `limit`.
    std::optional<int> wait(std::chrono::milliseconds limit) {
        waitFor(
            [&] {
                int status = 0;
                rusage usage{};
                if (m_status || ::wait4(m_pid, &status, WNOHANG, &usage) != m_pid) {
                    return m_status.has_value();
                }
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                m_cpuSeconds =
                    static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
                return true;
            },
            limit);
        return m_status;
    }
    // The processor time it used, user and system, once it has ended.
    double cpuSeconds() const { return m_cpuSeconds; }

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
    double m_cpuSeconds = 0;
};

inline bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// mosquitto with a password file, a plain listener and a TLS one, and persistence: a
// restart keeps the retained messages and the sessions, as a broker of a fleet does. It
// listens on `host` (an IPv4 address), whose certificate names it.
class Broker {
public:
    explicit Broker(const TempFolder& folder, std::string host = "127.0.0.1")
        : m_folder(folder), m_host(std::move(host)) {
        m_port = freePort();
        m_tlsPort = freePort();
        const std::string& dir = folder.path();
        // EC keys: quick to make. The server's certificate names the host.
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        writeFile(dir + "/san.cnf", "subjectAltName=IP:" + m_host + ",DNS:localhost\n");
        m_ready = run("cd " + dir + " && openssl req -x509 " + key +
                      "-days 2 -subj /CN=ostrel-test-ca -keyout ca.key -out ca.crt") &&
                  run("cd " + dir + " && openssl req -x509 " + key +
                      "-days 2 -subj /CN=other-ca -keyout other-ca.key -out other-ca.crt") &&
                  run("cd " + dir + " && openssl req " + key + "-subj /CN=" + m_host +
                      " -keyout server.key -out server.csr") &&
                  run("cd " + dir +
                      " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key "
                      "-CAcreateserial -days 2 -extfile san.cnf -out server.crt") &&
                  run("cd " + dir + " && openssl req " + key +
                      "-subj /CN=ostrel-client -keyout client.key -out client.csr") &&
                  run("cd " + dir +
                      " && openssl x509 -req -in client.csr -CA ca.crt -CAkey ca.key "
                      "-CAcreateserial -days 2 -out client.crt") &&
                  run("mosquitto_passwd -b -c " + dir + "/passwd " + USER + " '" + PASSWORD + "'");
        ::chmod((dir + "/client.key").c_str(), 0600);
        writeFile(dir + "/password", std::string(PASSWORD) + "\n", 0600);
        std::filesystem::create_directories(dir + "/broker");
        // "user" is obeyed only by a mosquitto started as root, which would otherwise become
        // the user mosquitto and could not write here.
        writeFile(dir + "/mosquitto.conf",
                  "user root\n"
                  "per_listener_settings false\n"
                  "allow_anonymous false\n"
                  "password_file " +
                      dir +
                      "/passwd\n"
                      "persistence true\n"
                      "persistence_location " +
                      dir +
                      "/broker/\n"
                      "log_dest file " +
                      dir +
                      "/mosquitto.log\n"
                      "log_type all\n"
                      "listener " +
                      std::to_string(m_port) + " " + m_host +
                      "\n"
                      "listener " +
                      std::to_string(m_tlsPort) + " " + m_host +
                      "\n"
                      "cafile " +
                      dir +
                      "/ca.crt\n"
                      "certfile " +
                      dir +
                      "/server.crt\n"
                      "keyfile " +
                      dir + "/server.key\n");
    }
    ~Broker() { stop(); }
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // Whether openssl and mosquitto_passwd made their files.
    bool ready() const { return m_ready; }
    bool start() {
        m_process = std::make_unique<Process>(
            std::vector<std::string>{MOSQUITTO, "-c", m_folder / "mosquitto.conf"},
            m_folder / "broker.out", m_folder / "broker.err");
        return waitFor([&] { return accepts(m_port, m_host) && accepts(m_tlsPort, m_host); },
                       std::chrono::seconds(10));
    }
    // SIGTERM: mosquitto saves its sessions and retained messages, then ends.
    void stop() {
        if (m_process) {
            m_process->signal(SIGTERM);
            m_process->wait(std::chrono::seconds(10));
            m_process.reset();
        }
    }
    int port() const { return m_port; }
    int tlsPort() const { return m_tlsPort; }
    std::string log() const { return readFile(m_folder / "mosquitto.log"); }
    const std::string& host() const { return m_host; }
    std::string url() const { return "mqtt://" + m_host + ":" + std::to_string(m_port); }
    std::string tlsUrl() const { return "mqtts://" + m_host + ":" + std::to_string(m_tlsPort); }
    // Every user of the tests has the same password.
    std::string credentials(const std::string& user = USER) const {
        return "-h " + m_host + " -p " + std::to_string(m_port) + " -u " + user + " -P '" +
               PASSWORD + "'";
    }
    // mosquitto_pub on the plain listener.
    bool publish(const std::string& topic, const std::string& payload) const {
        return run("mosquitto_pub " + credentials() + " -q 1 -t '" + topic + "' -m '" + payload +
                   "'");
    }

private:
    const TempFolder& m_folder;
    const std::string m_host;
    int m_port = 0;
    int m_tlsPort = 0;
    bool m_ready = false;
    std::unique_ptr<Process> m_process;
};

struct Received {
    bool retained = false;
    std::string expiry;  // the message expiry interval, empty when none
    std::string topic;
    std::string payload;
};

// mosquitto_sub with a session the broker keeps (QoS 1), so that nothing is lost to it while
// the broker restarts; one line a message.
class Subscriber {
public:
    Subscriber(const Broker& broker, const TempFolder& folder, const std::string& name,
               const std::vector<std::string>& filters, bool persistent = true,
               const std::string& user = USER)
        : m_file(folder / (name + ".out")) {
        std::vector<std::string> argv{"/usr/bin/mosquitto_sub",
                                      "-h",
                                      broker.host(),
                                      "-p",
                                      std::to_string(broker.port()),
                                      "-u",
                                      user,
                                      "-P",
                                      PASSWORD,
                                      "-V",
                                      "5",
                                      "-i",
                                      name,
                                      "-q",
                                      "1",
                                      "-F",
                                      "%r|%E|%t|%p"};
        if (persistent) {
            argv.insert(argv.end(), {"-c", "-x", "3600"});
        }
        for (const std::string& filter : filters) {
            argv.insert(argv.end(), {"-t", filter});
        }
        m_process = std::make_unique<Process>(argv, m_file, folder / (name + ".err"));
    }
    std::vector<Received> received() const {
        std::vector<Received> all;
        std::istringstream lines(readFile(m_file));
        std::string line;
        while (std::getline(lines, line)) {
            const auto first = line.find('|');
            const auto second = line.find('|', first + 1);
            const auto third = line.find('|', second + 1);
            if (third == std::string::npos) {
                continue;
            }
            all.push_back({line.substr(0, first) == "1", line.substr(first + 1, second - first - 1),
                           line.substr(second + 1, third - second - 1), line.substr(third + 1)});
        }
        return all;
    }
    std::vector<Received> on(const std::string& topic) const {
        std::vector<Received> found;
        for (Received& message : received()) {
            if (message.topic == topic) {
                found.push_back(std::move(message));
            }
        }
        return found;
    }

private:
    std::string m_file;
    std::unique_ptr<Process> m_process;
};

}  // namespace rig
