#include "installer/display_text.h"

#include <algorithm>

namespace corvanel {

namespace {

bool continuesCharacter(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

/// The length of the well-formed UTF-8 character that starts at `at`, or 0 when none does.
std::size_t characterLength(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1
        : (lead >> 5) == 0x6               ? 2
        : (lead >> 4) == 0xE               ? 3
        : (lead >> 3) == 0x1E              ? 4
                                           : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    unsigned code = length == 1 ? lead : length == 2 ? (lead & 0x1Fu) : length == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if (!continuesCharacter(next))
            return 0;
        code = (code << 6) | (next & 0x3Fu);
    }
    static constexpr unsigned smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

/// Whether the character is a control character: C0, DEL, or C1 (U+0080 to U+009F, which some
/// terminals obey as escape sequences).
bool isControl(std::string_view character)
{
    const auto lead = static_cast<unsigned char>(character[0]);
    if (character.size() == 1)
        return lead < 0x20 || lead == 0x7F;
    return character.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0;
}

void appendByteEscape(std::string& shown, unsigned char byte)
{
    static constexpr char digits[] = "0123456789abcdef";
    shown += "\\x";
    shown += digits[byte >> 4];
    shown += digits[byte & 0xF];
}

} // namespace

std::string printable(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = characterLength(text, at);
        if (length == 0) { // not UTF-8: the byte itself, written out
            appendByteEscape(shown, static_cast<unsigned char>(text[at]));
            ++at;
            continue;
        }
        const std::string_view character = text.substr(at, length);
        at += length;
        switch (character[0]) {
        case '\\':
            shown += "\\\\";
            continue;
        case '\n':
            shown += "\\n";
            continue;
        case '\r':
            shown += "\\r";
            continue;
        case '\t':
            shown += "\\t";
            continue;
        case 0x1B:
            shown += "\\e";
            continue;
        default:
            break;
        }
        if (isControl(character)) {
            for (const char byte : character)
                appendByteEscape(shown, static_cast<unsigned char>(byte));
        } else {
            shown += character;
        }
    }
    return shown;
}

std::string escapedLines(std::string_view output)
{
    std::string lines;
    for (std::size_t start = 0; start < output.size();) {
        const std::size_t end = std::min(output.find('\n', start), output.size());
        lines += printable(output.substr(start, end - start)) + "\n";
        start = end + 1;
    }
    return lines;
}

std::string quotedArguments(const std::vector<std::string>& arguments)
{
    std::string text = "[";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i)
            text += ", ";
        text += '"';
        for (const char c : printable(arguments[i])) {
            if (c == '"')
                text += '\\';
            text += c;
        }
        text += '"';
    }
    return text + "]";
}

bool isValidUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = characterLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string lowerCased(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

std::string shownPath(const std::filesystem::path& path, std::size_t limit)
{
    const std::string& text = path.native();
    static constexpr std::string_view ellipsis = "…";
    if (text.size() <= limit || limit <= ellipsis.size() + 2)
        return text;
    const std::size_t keep = limit - ellipsis.size();
    std::size_t head = keep / 3;
    std::size_t tail = text.size() - (keep - head);
    while (head > 0 && continuesCharacter(static_cast<unsigned char>(text[head])))
        --head;
    while (tail < text.size() && continuesCharacter(static_cast<unsigned char>(text[tail])))
        ++tail;
    return text.substr(0, head) + std::string(ellipsis) + text.substr(tail);
}

} // namespace corvanel
