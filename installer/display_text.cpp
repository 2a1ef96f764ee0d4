#include "installer/display_text.h"

namespace corvanel {

namespace {

bool continuesCharacter(unsigned char byte) { return (byte & 0xC0) == 0x80; }

} // namespace

std::string printable(std::string_view text)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        switch (byte) {
        case '\\': shown += "\\\\"; break;
        case '\n': shown += "\\n"; break;
        case '\r': shown += "\\r"; break;
        case '\t': shown += "\\t"; break;
        case 0x1B: shown += "\\e"; break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                shown += "\\x";
                shown += digits[byte >> 4];
                shown += digits[byte & 0xF];
            } else {
                shown += character;
            }
        }
    }
    return shown;
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
