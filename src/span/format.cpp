#include "span/format.hpp"

#include "core/interrupt.hpp"

#include <charconv>

namespace velnor::span {

namespace {

// Segments written between two checks: a segment's digits cost about 200 ns, so a few milliseconds' worth.
constexpr std::size_t text_poll_interval = std::size_t{1} << 14;

void append_number(std::string& out, std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// Appends each segment as open + start + ", " + end + close, joined by `separator`.
std::string join(const Segments& segments, const char* open, const char* close, const char* separator) {
    std::string out;
    out.reserve(segments.size() * 16);
    core::InterruptPoll poll(text_poll_interval);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        poll.tick();
        if (i > 0) {
            out.append(separator);
        }
        out.append(open);
        append_number(out, segments[i].start);
        out.append(", ");
        append_number(out, segments[i].end);
        out.append(close);
    }
    return out;
}

}  // namespace

std::string format_repr(const Segments& segments) {
    std::string out("Span([");
    out.append(join(segments, "(", ")", ", ")).append("])");
    return out;
}

std::string format_str(const Segments& segments) {
    if (segments.empty()) {
        return "\u2205";
    }
    return join(segments, "[", "]", " \u222A ");
}

}  // namespace velnor::span
