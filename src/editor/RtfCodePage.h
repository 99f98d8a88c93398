#pragma once

// Code-page helpers shared by the RTF reader and writer.
#include <QByteArray>
#include <QString>

#include <memory>
#include <unordered_map>

class QStringDecoder;

namespace editor::rtf {

// The character of a cp1252 byte. The five bytes cp1252 leaves undefined map to the C1 control of
// the same value, as Windows does, so nothing is lost.
char16_t Cp1252ToUnicode(unsigned char byte);

// The cp1252 byte of a character, or -1 when cp1252 has none.
int UnicodeToCp1252(char16_t ch);

// The Windows code page that an \fcharsetN selects, or 0 when N selects none of its own (the
// document's code page then applies).
int CodePageForCharset(int charset);

// The QStringDecoder name of a Windows code page that is read through QStringDecoder (the
// Windows, DOS, Mac, KOI8 and ISO 8859 single-byte pages, the CJK double-byte pages, GB18030 and
// UTF-8); empty for cp1252 and for pages this reader does not support, which are read as cp1252.
QByteArray CodePageName(int codePage);

// False for the pages whose characters may take more than one byte.
bool IsSingleByteCodePage(int codePage);

// Decodes bytes of Windows code pages. cp1252 (and 0, "not set") uses a built-in table; the other
// pages named by CodePageName go through QStringDecoder, and any other page is read as cp1252.
class CodePageDecoder {
public:
    CodePageDecoder();
    ~CodePageDecoder();
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;

    // Appends the decoded bytes to out.
    void Decode(int codePage, const char* bytes, qsizetype size, QString& out);

private:
    QStringDecoder* DecoderFor(int codePage);

    std::unordered_map<int, std::unique_ptr<QStringDecoder>> decoders_;
};

}  // namespace editor::rtf
