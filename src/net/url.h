#pragma once

#include <string>
#include <string_view>

namespace qvlink {

/// A URL split the way the form-post client reads it. Every part is plain text, unvalidated.
struct ParsedUrl {
    std::string scheme;    ///< text before "://", empty without it
    std::string host;      ///< authority up to its first ":"
    std::string portText;  ///< authority after its first ":", empty without one
    std::string path;      ///< always begins with "/" and ends with the last "/"
    std::string document;  ///< text after the last "/", cut at its first "#"

    /// Request target: path followed by document ("/" for "http://10.0.0.5").
    std::string target() const { return path + document; }
};

/// Splits a URL: backslashes count as slashes; without "://" there is no scheme and no host and
/// the whole text is path and document.
ParsedUrl parseUrl(std::string_view url);

}  // namespace qvlink
