#include "net/url.h"

#include <algorithm>

namespace qvlink {

ParsedUrl parseUrl(std::string_view url) {
    std::string text(url);
    std::replace(text.begin(), text.end(), '\\', '/');

    ParsedUrl parsed;
    std::string rest = text;
    if (const std::size_t separator = text.find("://"); separator != std::string::npos) {
        parsed.scheme = text.substr(0, separator);
        rest = text.substr(separator + 3);
        const std::size_t slash = rest.find('/');
        const std::string authority = rest.substr(0, slash);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        const std::size_t colon = authority.find(':');
        parsed.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            parsed.portText = authority.substr(colon + 1);
        }
    }

    const std::size_t lastSlash = rest.rfind('/');
    if (lastSlash != std::string::npos) {
        parsed.path = rest.substr(0, lastSlash + 1);
        parsed.document = rest.substr(lastSlash + 1);
    } else {
        parsed.document = rest;
    }
    if (parsed.path.empty() || parsed.path.front() != '/') {
        parsed.path = "/" + parsed.path;
    }
    if (const std::size_t hash = parsed.document.find('#'); hash != std::string::npos) {
        parsed.document.resize(hash);
    }
    return parsed;
}

}  // namespace qvlink
