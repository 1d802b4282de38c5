// How the source pane turns a file's bytes into characters and back. The
// compiler works on bytes; the pane shows characters. A file that is valid
// UTF-8 is shown and saved as UTF-8, any other as Latin-1, where every byte
// is one character, so that each byte of a file comes back as it was.
#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace mirtolan {

enum class TextEncoding {
    Ascii,  // only bytes below 128: both readings agree, and UTF-8 is taken for new characters
    Utf8,   // valid UTF-8 with at least one multi-byte character
    Latin1, // any other bytes, one character each
};

// The reading that keeps every byte of `lines`.
TextEncoding DetectEncoding(const std::vector<std::string>& lines);
bool IsValidUtf8(std::string_view bytes);

QString DecodeLine(std::string_view bytes, TextEncoding encoding);
// Encodes `text`; false (and `out` is not to be used) when some character cannot
// be held in `encoding` (Latin-1 above U+00FF, or a lone surrogate anywhere).
bool EncodeLine(const QString& text, TextEncoding encoding, std::string& out);
// Whether every line can be held in `encoding`; `firstBad` gets the first
// character that cannot.
bool CanEncode(const std::vector<QString>& lines, TextEncoding encoding, QChar* firstBad = nullptr);

// The encoding to save in after an edit: an ASCII file grows into UTF-8 when
// a character beyond ASCII is typed; the others keep their encoding.
TextEncoding SavingEncoding(TextEncoding opened, const std::vector<QString>& lines);

// Lines of the compiler's own output (listing, messages) quote source text:
// shown as UTF-8 where they are valid UTF-8, byte for byte otherwise.
QString DecodeShown(std::string_view bytes);

const char* EncodingName(TextEncoding encoding);

} // namespace mirtolan
