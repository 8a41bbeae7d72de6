#pragma once

// Texts for tests that compare two readings of one file.

#include <QByteArray>

#include <vector>

namespace kztest {

// Byte sequences that conversions of text treat specially: a byte-order
// mark, noncharacters, NUL, line ends, combining marks, character
// references, bytes that are not UTF-8 (overlong forms, surrogates encoded
// one by one, stray bytes). `xmlText` tells those an XML reader takes as
// characters of a text.
struct SpecialText {
    const char* name;
    QByteArray bytes;
    bool xmlText;
};

inline const std::vector<SpecialText>& specialTexts()
{
    static const std::vector<SpecialText> texts{
        {"a byte-order mark", "\xEF\xBB\xBF", true},
        {"two byte-order marks", "\xEF\xBB\xBF\xEF\xBB\xBF", true},
        {"a byte-order mark as a reference", "&#xFEFF;", true},
        {"a byte-order mark as a decimal reference", "&#65279;", true},
        {"U+FFFE", "\xEF\xBF\xBE", false},
        {"U+FFFF", "\xEF\xBF\xBF", false},
        {"U+FFFD", "\xEF\xBF\xBD", true},
        {"a NUL", QByteArray("\0", 1), false},
        {"a control character", "\x01", false},
        {"a tab", "\t", true},
        {"a space", " ", true},
        {"a line feed", "\n", true},
        {"a carriage return", "\r", true},
        {"a CR LF", "\r\n", true},
        {"NEL", "\xC2\x85", true},
        {"a line separator", "\xE2\x80\xA8", true},
        {"a paragraph separator", "\xE2\x80\xA9", true},
        {"a combining mark alone", "\xCC\x81", true},
        {"a letter and a combining mark", "e\xCC\x81", true},
        {"a precomposed letter", "\xC3\xA9", true},
        {"a zero-width space", "\xE2\x80\x8B", true},
        {"a right-to-left override", "\xE2\x80\xAE", true},
        {"a private-use character", "\xEE\x80\x80", true},
        {"the noncharacter U+FDD0", "\xEF\xB7\x90", true},
        {"the noncharacter U+1FFFE", "\xF0\x9F\xBF\xBE", true},
        {"the last code point", "\xF4\x8F\xBF\xBF", true},
        {"a character beyond 16 bits", "\xF0\x9F\x98\x80", true},
        {"a surrogate pair encoded one by one", "\xED\xA0\xBD\xED\xB8\x80", false},
        {"a lone surrogate", "\xED\xB0\x80", false},
        {"an overlong slash", "\xC0\xAF", false},
        {"an overlong NUL", "\xC0\x80", false},
        {"an overlong slash of three bytes", "\xE0\x80\xAF", false},
        {"an overlong slash of four bytes", "\xF0\x80\x80\xAF", false},
        {"beyond the last code point", "\xF4\x90\x80\x80", false},
        {"a form of five bytes", "\xF8\x88\x80\x80\x80", false},
        {"a stray continuation byte", "\x80", false},
        {"a sequence cut short", "\xE2\x82", false},
        {"the bytes FE and FF", "\xFE\xFF", false},
        {"a Latin-1 letter", "\xE9", false},
        {"an overlong byte-order mark", "\xF0\x8F\xBB\xBF", false},
    };
    return texts;
}

// `xml` with `before` and `after` put around the text of every element
// <`element`>: every key, or every string.
inline QByteArray wrapTexts(QByteArray xml, const QByteArray& element, const QByteArray& before, const QByteArray& after)
{
    const QByteArray open = "<" + element + ">";
    const QByteArray close = "</" + element + ">";
    xml.replace(open, QByteArray(open + before));
    return xml.replace(close, QByteArray(after + close));
}

} // namespace kztest
