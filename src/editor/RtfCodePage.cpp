#include "editor/RtfCodePage.h"

#include <QStringDecoder>

namespace editor::rtf {
namespace {

// cp1252 bytes 0x80..0x9F; the rest of the page is Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

}  // namespace

char16_t Cp1252ToUnicode(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80];
    return byte;
}

int UnicodeToCp1252(char16_t ch)
{
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return ch;
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == ch) return 0x80 + i;
    }
    return -1;
}

int CodePageForCharset(int charset)
{
    switch (charset) {
    case 0:
        return 1252;  // ANSI
    case 77:
        return 10000;  // Mac Roman
    case 128:
        return 932;  // Shift JIS
    case 129:
        return 949;  // Hangul
    case 130:
        return 1361;  // Johab
    case 134:
        return 936;  // GB2312
    case 136:
        return 950;  // Big5
    case 161:
        return 1253;  // Greek
    case 162:
        return 1254;  // Turkish
    case 163:
        return 1258;  // Vietnamese
    case 177:
        return 1255;  // Hebrew
    case 178:
        return 1256;  // Arabic
    case 186:
        return 1257;  // Baltic
    case 204:
        return 1251;  // Cyrillic
    case 222:
        return 874;  // Thai
    case 238:
        return 1250;  // Eastern European
    case 254:
        return 437;  // PC 437
    case 255:
        return 850;  // OEM
    default:
        return 0;  // 1 default, 2 symbol and unknown sets: the document's page
    }
}

CodePageDecoder::CodePageDecoder() = default;
CodePageDecoder::~CodePageDecoder() = default;

QByteArray CodePageName(int codePage)
{
    switch (codePage) {
    case 874:
    case 932:
    case 936:
    case 949:
    case 950:
        return "windows-" + QByteArray::number(codePage);
    case 437:
    case 737:
    case 775:
    case 850:
    case 852:
    case 855:
    case 857:
    case 860:
    case 861:
    case 862:
    case 863:
    case 864:
    case 865:
    case 866:
    case 869:
        return "cp" + QByteArray::number(codePage);
    case 10000:
        return "macintosh";
    case 10007:
        return "x-mac-cyrillic";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 54936:
        return "GB18030";
    case 65001:
        return "UTF-8";
    default:
        break;
    }
    if (codePage >= 1250 && codePage <= 1258) return "windows-" + QByteArray::number(codePage);
    if (codePage >= 28591 && codePage <= 28605) {
        return "ISO-8859-" + QByteArray::number(codePage - 28590);
    }
    return {};
}

bool IsSingleByteCodePage(int codePage)
{
    switch (codePage) {
    case 932:
    case 936:
    case 949:
    case 950:
    case 1361:
    case 54936:
    case 65001:
        return false;
    default:
        return true;  // the pages CodePageName knows, and cp1252 for all others
    }
}

QStringDecoder* CodePageDecoder::DecoderFor(int codePage)
{
    auto it = decoders_.find(codePage);
    if (it != decoders_.end()) return it->second.get();
    std::unique_ptr<QStringDecoder> decoder;
    const QByteArray name = CodePageName(codePage);
    if (!name.isEmpty()) {
        decoder =
            std::make_unique<QStringDecoder>(name.constData(), QStringDecoder::Flag::Stateless);
        if (!decoder->isValid()) decoder.reset();
    }
    // A null entry remembers that the page is read as cp1252, so the lookup is not repeated.
    return decoders_.emplace(codePage, std::move(decoder)).first->second.get();
}

void CodePageDecoder::Decode(int codePage, const char* bytes, qsizetype size, QString& out)
{
    if (size <= 0) return;
    if (codePage != 0 && codePage != 1252) {
        if (QStringDecoder* d = DecoderFor(codePage)) {
            d->resetState();
            out += d->decode(QByteArrayView(bytes, size));
            return;
        }
    }
    const qsizetype start = out.size();
    out.resize(start + size);
    QChar* dst = out.data() + start;
    for (qsizetype i = 0; i < size; ++i)
        dst[i] = QChar(Cp1252ToUnicode(uchar(bytes[i])));
}

}  // namespace editor::rtf
