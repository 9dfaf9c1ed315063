#include "capture/helper_report.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace qvlink::capture {
namespace {

constexpr std::string_view kLead = "qvlink-capture: the kernel dropped ";
constexpr std::string_view kTail = " captured frames: the capture fell behind";

}  // namespace

std::string kernelDropsLine(std::uint64_t frames) {
    return std::string(kLead) + std::to_string(frames) + std::string(kTail);
}

std::uint64_t takeKernelDrops(std::string& message) {
    for (std::size_t start = 0; start < message.size();) {
        const std::size_t end = std::min(message.find('\n', start), message.size());
        const std::string_view line(message.data() + start, end - start);
        std::uint64_t frames = 0;
        if (line.starts_with(kLead) && line.ends_with(kTail)) {
            const std::string_view number =
                line.substr(kLead.size(), line.size() - kLead.size() - kTail.size());
            const auto [last, error] =
                std::from_chars(number.data(), number.data() + number.size(), frames);
            if (error == std::errc() && last == number.data() + number.size()) {
                message.erase(start, end + 1 - start);
                while (!message.empty() && message.back() == '\n') {
                    message.pop_back();
                }
                return frames;
            }
        }
        start = end + 1;
    }
    return 0;
}

}  // namespace qvlink::capture
