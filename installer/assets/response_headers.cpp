#include "installer/assets/response_headers.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace corvanel {

namespace {

constexpr std::size_t validatorLimit = 200;

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

/// A count of bytes written as plain decimal digits; nothing for anything else or an overflow.
std::optional<std::int64_t> byteCount(std::string_view text)
{
    if (text.empty() || text.size() > 18
        || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

bool isStrongEntityTag(std::string_view value)
{
    return value.size() >= 2 && value.front() == '"' && value.back() == '"'
        && std::all_of(value.begin() + 1, value.end() - 1,
                       [](char c) { return c == 0x21 || (c >= 0x23 && c <= 0x7E && c != '\\'); });
}

bool isDate(std::string_view value)
{
    return !value.empty() && value.front() != ' ' && value.back() != ' ' && value.find('"') == std::string_view::npos
        && std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

/// "HTTP/1.1 206 Partial Content", "HTTP/2 200": the status, or nothing.
std::optional<int> statusOf(std::string_view line)
{
    const auto space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4)
        return std::nullopt;
    const std::string_view code = line.substr(space + 1, 3);
    if (line.size() > space + 4 && line[space + 4] != ' ')
        return std::nullopt;
    const auto value = byteCount(code);
    if (!value || *value < 100)
        return std::nullopt;
    return static_cast<int>(*value);
}

/// "bytes START-END/TOTAL" or "bytes */TOTAL"; false when malformed.
bool readContentRange(std::string_view value, ResponseHeaders& headers)
{
    if (!value.starts_with("bytes "))
        return false;
    value.remove_prefix(6);
    const auto slash = value.find('/');
    if (slash == std::string_view::npos)
        return false;
    const std::string_view range = value.substr(0, slash);
    const std::string_view total = value.substr(slash + 1);
    if (total != "*") {
        const auto length = byteCount(total);
        if (!length)
            return false;
        headers.completeLength = length;
    }
    if (range == "*")
        return true;
    const auto dash = range.find('-');
    if (dash == std::string_view::npos)
        return false;
    const auto first = byteCount(range.substr(0, dash));
    const auto last = byteCount(range.substr(dash + 1));
    if (!first || !last || *last < *first || (headers.completeLength && *last >= *headers.completeLength))
        return false;
    headers.rangeStart = first;
    return true;
}

/// One block of the dump, from its status line to the line before the empty one.
class Block {
public:
    explicit Block(int status) { headers_.status = status; }

    void add(std::string_view line)
    {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 || line.front() == ' ' || line.front() == '\t') {
            valid_ = false;
            return;
        }
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (equalsIgnoringCase(name, "Content-Length"))
            valid_ = once(seenLength_) && (headers_.contentLength = byteCount(value)).has_value();
        else if (equalsIgnoringCase(name, "Content-Range"))
            valid_ = once(seenRange_) && readContentRange(value, headers_);
        else if (equalsIgnoringCase(name, "ETag"))
            etags_.emplace_back(value);
        else if (equalsIgnoringCase(name, "Last-Modified"))
            dates_.emplace_back(value);
    }

    std::optional<ResponseHeaders> finish()
    {
        if (!valid_)
            return std::nullopt;
        // Two validators of one kind cannot both hold: neither is used.
        if (etags_.size() == 1 && isStrongEntityTag(etags_.front()) && etags_.front().size() <= validatorLimit)
            headers_.etag = etags_.front();
        if (dates_.size() == 1 && isDate(dates_.front()) && dates_.front().size() <= validatorLimit)
            headers_.lastModified = dates_.front();
        if (headers_.status == 200)
            headers_.completeLength = headers_.contentLength;
        if (headers_.status != 206)
            headers_.rangeStart.reset();
        return headers_;
    }

private:
    bool once(bool& seen)
    {
        const bool first = !seen;
        seen = true;
        return valid_ && first;
    }

    ResponseHeaders headers_;
    std::vector<std::string_view> etags_;
    std::vector<std::string_view> dates_;
    bool seenLength_ = false;
    bool seenRange_ = false;
    bool valid_ = true;
};

} // namespace

std::optional<ResponseHeaders> parseResponseHeaders(std::string_view dump)
{
    if (dump.size() > responseHeadersLimit || dump.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::optional<ResponseHeaders> last;
    std::optional<Block> block;
    while (!dump.empty()) {
        const auto end = dump.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt; // a line still being written
        std::string_view line = dump.substr(0, end);
        dump.remove_prefix(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);

        if (line.starts_with("HTTP/")) {
            const auto status = statusOf(line);
            if (!status || block)
                return std::nullopt;
            block.emplace(*status);
            last.reset();
        } else if (line.empty()) {
            if (!block)
                return std::nullopt;
            last = block->finish();
            if (!last)
                return std::nullopt;
            block.reset();
        } else if (block) {
            block->add(line);
        } else {
            return std::nullopt;
        }
    }
    // An answer whose headers are still arriving is no answer yet.
    return block ? std::nullopt : last;
}

bool isUsableValidator(std::string_view value)
{
    if (value.empty() || value.size() > validatorLimit)
        return false;
    if (value.front() == '"')
        return isStrongEntityTag(value);
    return isDate(value);
}

} // namespace corvanel
