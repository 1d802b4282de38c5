#include "FileEncoding.h"

namespace mirtolan {

bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t more = 0;
        char32_t cp = 0;
        char32_t least = 0; // smallest code point that needs this many bytes: shorter forms are invalid
        if ((c & 0xE0) == 0xC0) {
            more = 1;
            cp = c & 0x1F;
            least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            cp = c & 0x0F;
            least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            cp = c & 0x07;
            least = 0x10000;
        } else {
            return false;
        }
        if (n - i <= more) return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += more + 1;
    }
    return true;
}

namespace {
bool IsAscii(std::string_view s) {
    for (char ch : s)
        if (static_cast<unsigned char>(ch) >= 0x80) return false;
    return true;
}
} // namespace

TextEncoding DetectEncoding(const std::vector<std::string>& lines) {
    bool ascii = true;
    for (const std::string& l : lines) {
        if (IsAscii(l)) continue;
        ascii = false;
        if (!IsValidUtf8(l)) return TextEncoding::Latin1;
    }
    return ascii ? TextEncoding::Ascii : TextEncoding::Utf8;
}

QString DecodeLine(std::string_view bytes, TextEncoding encoding) {
    const auto size = static_cast<qsizetype>(bytes.size());
    if (encoding == TextEncoding::Latin1) return QString::fromLatin1(bytes.data(), size);
    return QString::fromUtf8(bytes.data(), size);
}

bool EncodeLine(const QString& text, TextEncoding encoding, std::string& out) {
    out.clear();
    out.reserve(static_cast<std::size_t>(text.size()));
    if (encoding == TextEncoding::Latin1) {
        for (QChar ch : text) {
            if (ch.unicode() > 0xFF) return false;
            out.push_back(static_cast<char>(ch.unicode()));
        }
        return true;
    }
    // Qt would put U+FFFD in place of a lone surrogate: refuse instead.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate()) return false;
            ++i;
        } else if (ch.isLowSurrogate()) {
            return false;
        }
    }
    const QByteArray b = text.toUtf8();
    out.assign(b.constData(), static_cast<std::size_t>(b.size()));
    return true;
}

bool CanEncode(const std::vector<QString>& lines, TextEncoding encoding, QChar* firstBad) {
    std::string scratch;
    for (const QString& l : lines) {
        if (EncodeLine(l, encoding, scratch)) continue;
        if (firstBad) {
            for (QChar ch : l)
                if (encoding != TextEncoding::Latin1 ? ch.isSurrogate() : ch.unicode() > 0xFF) {
                    *firstBad = ch;
                    break;
                }
        }
        return false;
    }
    return true;
}

TextEncoding SavingEncoding(TextEncoding opened, const std::vector<QString>& lines) {
    if (opened != TextEncoding::Ascii) return opened;
    for (const QString& l : lines)
        for (QChar ch : l)
            if (ch.unicode() >= 0x80) return TextEncoding::Utf8;
    return TextEncoding::Ascii;
}

QString DecodeShown(std::string_view bytes) {
    return DecodeLine(bytes, IsAscii(bytes) || IsValidUtf8(bytes) ? TextEncoding::Utf8 : TextEncoding::Latin1);
}

const char* EncodingName(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Ascii:
        return "ASCII";
    case TextEncoding::Utf8:
        return "UTF-8";
    case TextEncoding::Latin1:
        return "Latin-1";
    }
    return "";
}

} // namespace mirtolan
