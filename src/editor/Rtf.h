#pragma once

// Rich text (RTF) reader and writer over QTextDocument.
//
// Reader: the common subset that word processors write: character formatting (font, size, bold,
// italic, underline, strike-out, super/subscript, colours), paragraph formatting (alignment,
// indents, spacing), bullets and numbering (old-style \pn paragraphs and \listtable/\ls lists),
// single- and double-byte code pages (\ansicpg, \fcharset, \cpg) and Unicode (\uN, \ucN, surrogate
// pairs). Destinations it does not show (style sheet, document info, pictures, headers, footers,
// field instructions and every unknown \* destination) are skipped. Malformed input is loaded
// best-effort: the reader runs in time linear in the input, never recurses, caps group nesting and
// never reads past the end of the data.
//
// Lists: bulleted paragraphs become QTextList items of style ListDisc, numbered ones ListDecimal,
// ListLowerAlpha, ListUpperAlpha, ListLowerRoman or ListUpperRoman; list level N becomes the list
// format's indent N + 1. A QTextList takes at most 64 bulleted or 512 numbered items: Qt re-marks
// every item of a list whenever one is added, so one list for a run of thousands of paragraphs
// would make loading quadratic. A long bulleted run therefore spans several consecutive lists,
// which look the same; numbering starts again after 512 items.
//
// Writer: \rtf1\ansi\ansicpg1252 with a font table, a colour table when colours are used, a list
// table when lists are used, and each character outside cp1252 as \uN with a "?" fallback. Each
// list paragraph carries both the old-style {\pntext}{\*\pn} groups and \lsN\ilvlN, so readers of
// either generation show the bullets. Indents are converted at 15 twips per document unit (96 units
// to the inch).
#include <QByteArray>
#include <QString>

class QTextDocument;

namespace editor {

// Deepest group nesting the reader tracks; deeper groups share the state of the deepest one.
inline constexpr int kRtfMaxGroupDepth = 1024;

// True when the bytes begin with "{\rtf" (a file that does not is not rich text).
bool IsRtf(const QByteArray& data);

// Replaces doc's content with the parsed rich text. Returns false (doc untouched, *error set to a
// short English reason) when data is not rich text; malformed rich text is loaded best-effort and
// returns true. The document's undo history is cleared.
bool ReadRtf(const QByteArray& data, QTextDocument& doc, QString* error = nullptr);

// The whole document as RTF (\rtf1\ansi\ansicpg1252, font table, colour table when needed, \uN
// escapes for characters outside cp1252, bullets both as \pntext/\pn...\pnlvlblt and as
// \listtable/\ls).
QByteArray WriteRtf(const QTextDocument& doc);

}  // namespace editor
