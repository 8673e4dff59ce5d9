// The configuration's files: the configuration itself, and the secrets and certificates it
// names, read through POSIX (ostrel_mqtt, which is built where the publisher is).
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <tuple>

#include "services/mqtt/MqttConfig.h"

namespace ctl::mqtt {
namespace {

constexpr std::size_t MAX_CONFIG_BYTES = 64 * 1024;
constexpr std::size_t MAX_SECRET_BYTES = 4096;

std::string systemError(int error) {
    return std::strerror(error);
}

// A file that must exist and be read; `secret`: readable by its owner and group only.
std::string checkFile(const std::string& path, const char* key, bool secret) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::string(key) + ": cannot read " + path + ": " + systemError(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return std::string(key) + ": " + path + " is not a regular file";
    }
    if (secret && (info.st_mode & (S_IROTH | S_IWOTH)) != 0) {
        return std::string(key) + ": " + path +
               " may be read or written by others: make it private (chmod o-rw " + path + ")";
    }
    if (::access(path.c_str(), R_OK) != 0) {
        return std::string(key) + ": cannot read " + path + ": " + systemError(errno);
    }
    return {};
}

}  // namespace

ConfigResult loadMqttConfig(const std::string& path, const ConfigEnvironment& environment) {
    ConfigResult result;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        result.error = "cannot read the configuration " + path + ": " + systemError(errno);
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.error = "the configuration " + path + " is not a regular file";
        return result;
    }
    std::ifstream file(path, std::ios::binary);
    std::string text(MAX_CONFIG_BYTES + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad() || (!file && !file.eof())) {
        result.error = "cannot read the configuration " + path;
        return result;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > MAX_CONFIG_BYTES) {
        result.error = "the configuration " + path + " is larger than 64 KiB";
        return result;
    }
    result = parseMqttConfig(text, path, environment);
    if (!result.config) {
        return result;
    }
    const MqttConfig& config = *result.config;
    for (const auto& [key, named, secret] : {std::tuple{"password_file", config.passwordFile, true},
                                             std::tuple{"ca_file", config.caFile, false},
                                             std::tuple{"cert_file", config.certFile, false},
                                             std::tuple{"key_file", config.keyFile, true}}) {
        if (named.empty()) {
            continue;
        }
        if (std::string refusal = checkFile(named, key, secret); !refusal.empty()) {
            result.config.reset();
            result.error = path;
            result.error += ": " + refusal;
            return result;
        }
    }
    if (!config.passwordFile.empty()) {
        std::string error;
        if (!readPassword(config.passwordFile, error)) {
            result.config.reset();
            result.error = path + ": password_file: " + error;
        }
    }
    return result;
}

std::optional<std::string> readPassword(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path + ": " + systemError(errno);
        return std::nullopt;
    }
    std::string text(MAX_SECRET_BYTES + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > MAX_SECRET_BYTES) {
        error = path + " is larger than 4 KiB: not a password";
        return std::nullopt;
    }
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    if (text.empty()) {
        error = path + " holds no password on its first line";
        return std::nullopt;
    }
    return text;
}

ConfigEnvironment processEnvironment() {
    ConfigEnvironment environment;
    if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
        credentials != nullptr && *credentials != '\0') {
        environment.credentialsDirectory = credentials;
    }
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) == 0) {
        environment.hostName = name.data();
        // The host name's first label: "car7.fleet.example" is car7.
        environment.hostName = environment.hostName.substr(0, environment.hostName.find('.'));
    }
    return environment;
}

}  // namespace ctl::mqtt
