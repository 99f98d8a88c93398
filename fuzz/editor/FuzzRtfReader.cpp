// Feeds arbitrary bytes to the RTF reader, then checks what the writer makes of the result:
// it must read back to the same text and be written again byte for byte the same.
#include <QGuiApplication>
#include <QTextBlock>
#include <QTextDocument>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "editor/Rtf.h"

namespace {

void Fail(const char* what, const QByteArray& a, const QByteArray& b)
{
    std::fprintf(stderr, "%s\n--- first\n%s\n--- second\n%s\n", what, a.constData(), b.constData());
    std::abort();
}

QByteArray BlockTexts(const QTextDocument& doc)
{
    QByteArray out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        out += b.text().toUtf8() + '\n';
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "fuzz_rtf_reader";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QTextDocument doc;
    if (!editor::IsRtf(input)) {
        // Refused, and the document is left alone; then read the bytes as the body of a document.
        doc.setPlainText(QStringLiteral("kept"));
        QString error;
        if (editor::ReadRtf(input, doc, &error) || error.isEmpty() ||
            doc.toPlainText() != QStringLiteral("kept")) {
            Fail("non-RTF input was not refused cleanly", input, doc.toPlainText().toUtf8());
        }
        input.prepend("{\\rtf1 ");
    }
    if (!editor::ReadRtf(input, doc)) Fail("RTF input was refused", input, QByteArray());

    const QByteArray written = editor::WriteRtf(doc);
    QTextDocument back;
    back.setDefaultFont(doc.defaultFont());
    if (!editor::ReadRtf(written, back)) Fail("written RTF was refused", written, QByteArray());
    if (BlockTexts(back) != BlockTexts(doc)) {
        Fail("text changed through write and read", BlockTexts(doc), BlockTexts(back));
    }
    const QByteArray again = editor::WriteRtf(back);
    if (again != written) Fail("writing what was read changed the bytes", written, again);
    return 0;
}
