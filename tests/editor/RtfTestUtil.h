#pragma once

// Helpers shared by the RTF tests: load bytes into a document and look at its blocks and formats.
#include <QFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <vector>

#include <gtest/gtest.h>

#include "editor/Rtf.h"

namespace rtftest {

inline QByteArray Bytes(const char* text)
{
    return QByteArray(text);
}

// Loads RTF that must be accepted.
inline void Load(const QByteArray& rtf, QTextDocument& doc)
{
    QString error;
    ASSERT_TRUE(editor::ReadRtf(rtf, doc, &error)) << error.toStdString();
}

inline QByteArray SampleFile(const char* name)
{
    QFile f(QStringLiteral(ZARVOS_TEST_DATA_DIR "/rtf/") + QLatin1String(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

// The blocks' texts as stored (line separators and tabs kept).
inline std::vector<QString> Blocks(const QTextDocument& doc)
{
    std::vector<QString> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        out.push_back(b.text());
    return out;
}

inline QTextBlock BlockAt(const QTextDocument& doc, int n)
{
    return doc.findBlockByNumber(n);
}

// The character format of the first character of the first occurrence of text.
inline QTextCharFormat FormatOf(const QTextDocument& doc, const QString& text)
{
    const QTextCursor found = doc.find(text);
    EXPECT_FALSE(found.isNull()) << "text not found: " << text.toStdString();
    if (found.isNull()) return {};
    QTextCursor c(const_cast<QTextDocument*>(&doc));
    c.setPosition(found.selectionStart() + 1);
    return c.charFormat();
}

inline QString Family(const QTextCharFormat& f)
{
    return f.property(QTextFormat::FontFamilies).toStringList().value(0);
}

}  // namespace rtftest
