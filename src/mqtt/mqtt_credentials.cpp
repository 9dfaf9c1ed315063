#include "mqtt/mqtt_credentials.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/unique_fd.h"

namespace qvlink {
namespace {

/// An account file is a few short lines; anything longer is not one.
constexpr std::size_t kMaxCredentialsFileSize = 4096;

/// The next line of `text` from `position` on, without its line end; advances `position`.
std::string nextLine(const std::string& text, std::size_t& position) {
    const std::size_t end = std::min(text.find('\n', position), text.size());
    std::string line = text.substr(position, end - position);
    position = end < text.size() ? end + 1 : end;
    if (line.ends_with('\r')) {
        line.pop_back();
    }
    return line;
}

std::string fileError(const std::string& path, const std::string& why) {
    return "MQTT credentials file \"" + path + "\": " + why;
}

}  // namespace

std::variant<MqttCredentials, std::string> readMqttCredentialsFile(const std::string& path) {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        return fileError(path, std::strerror(errno));
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        return fileError(path, std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        return fileError(path, "not a regular file");
    }
    if ((status.st_mode & S_IROTH) != 0) {
        return fileError(path, "other users may read it; chmod o-r it first");
    }
    if (status.st_size > static_cast<off_t>(kMaxCredentialsFileSize)) {
        return fileError(path, "too long for a user and a password");
    }
    std::string text(kMaxCredentialsFileSize, '\0');
    const ssize_t length = ::read(file.get(), text.data(), text.size());
    if (length < 0) {
        return fileError(path, std::strerror(errno));
    }
    text.resize(static_cast<std::size_t>(length));
    std::size_t position = 0;
    MqttCredentials credentials;
    credentials.user = nextLine(text, position);
    credentials.password = nextLine(text, position);
    if (credentials.user.empty()) {
        return fileError(path, "its first line, the user, is empty");
    }
    return credentials;
}

MqttCredentials mqttCredentialsFromEnvironment(const EnvironmentLookup& lookup) {
    MqttCredentials credentials;
    if (const char* user = lookup(kMqttUserVariable)) {
        credentials.user = user;
    }
    if (const char* password = lookup(kMqttPasswordVariable); password && !credentials.empty()) {
        credentials.password = password;
    }
    return credentials;
}

}  // namespace qvlink
