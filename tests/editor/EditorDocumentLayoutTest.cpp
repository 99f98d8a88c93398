// The editor's document layout: its height index against a plain model, its lines against the
// toolkit's own layout, hit testing against caret rectangles, and a change near the top of a long
// document laying out only what it touched.
#include "editor/BlockHeights.h"
#include "editor/EditorDocumentLayout.h"

#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextList>

#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

using editor::TBlockHeights;
using editor::TEditorDocumentLayout;

namespace {

TBlockHeights::Entry E(float height, float width = 0, bool laid = true)
{
    TBlockHeights::Entry e;
    e.height = height;
    e.width = width;
    e.laid = laid;
    return e;
}

// A document with the editor's layout at a page width.
std::unique_ptr<QTextDocument> EditorDocument(qreal width)
{
    auto doc = std::make_unique<QTextDocument>();
    doc->setDocumentMargin(0);
    doc->setDocumentLayout(new TEditorDocumentLayout(doc.get()));
    doc->setPageSize(QSizeF(width, -1));
    return doc;
}

}  // namespace

// Random splices, sets and walks against a vector: tops, lookups by height, sums and the entries
// not laid out stay those of the plain model, across chunk splits and merges.
TEST(BlockHeights, FollowsAPlainModelThroughRandomChanges)
{
    std::mt19937 rng(7);
    TBlockHeights h;
    std::vector<TBlockHeights::Entry> model;
    const auto check = [&] {
        ASSERT_EQ(h.Count(), int(model.size()));
        double top = 0;
        int unlaid = 0;
        float widest = 0;
        for (std::size_t i = 0; i < model.size(); ++i) {
            if (i % 97 == 0 || i + 1 == model.size()) {
                ASSERT_DOUBLE_EQ(h.Top(int(i)), top) << i;
                if (model[i].height > 0) {
                    ASSERT_EQ(h.IndexAt(top), int(i));
                    ASSERT_EQ(h.IndexAt(top + model[i].height * 0.5), int(i));
                }
            }
            top += model[i].height;
            unlaid += model[i].laid ? 0 : 1;
            widest = std::max(widest, model[i].width);
        }
        ASSERT_DOUBLE_EQ(h.Total(), top);
        ASSERT_EQ(h.Unlaid(), unlaid);
        ASSERT_DOUBLE_EQ(h.MaxWidth(), widest);
        if (!model.empty()) {
            ASSERT_EQ(h.IndexAt(-5), 0);
            ASSERT_EQ(h.IndexAt(top + 10), int(model.size()) - 1);
        }
        int firstUnlaid = -1;
        for (std::size_t i = 0; i < model.size() && firstUnlaid < 0; ++i)
            if (!model[i].laid) firstUnlaid = int(i);
        ASSERT_EQ(h.NextUnlaid(0), firstUnlaid);
    };
    for (int round = 0; round < 400; ++round) {
        const int op = int(rng() % 10);
        const int n = int(model.size());
        if (op < 5 || n == 0) {
            // Splice: small edits mostly, now and then thousands of entries in or out.
            const int at = n ? int(rng() % (n + 1)) : 0;
            const int big = rng() % 8 == 0 ? 3000 : 3;
            const int remove = at < n ? int(rng() % std::min(n - at, big) + (rng() % 2)) : 0;
            const int removeCount = std::min(remove, n - at);
            const int insert = int(rng() % big);
            std::vector<TBlockHeights::Entry> fresh;
            for (int i = 0; i < insert; ++i)
                fresh.push_back(E(float(rng() % 5) * 8.25f, float(rng() % 300), rng() % 3 != 0));
            h.Splice(at, removeCount, fresh);
            model.erase(model.begin() + at, model.begin() + at + removeCount);
            model.insert(model.begin() + at, fresh.begin(), fresh.end());
        } else if (op < 8) {
            const int at = int(rng() % n);
            const auto e = E(float(rng() % 40) * 0.5f, float(rng() % 500), rng() % 2 == 0);
            h.Set(at, e);
            model[std::size_t(at)] = e;
        } else if (op < 9) {
            // A walk that lays out a stretch.
            const int from = int(rng() % n);
            const int len = int(rng() % 700);
            h.Walk(from, [&](int i, TBlockHeights::Entry& e) {
                if (i >= from + len) return false;
                e = E(12, float(i % 250), true);
                model[std::size_t(i)] = e;
                return true;
            });
        } else {
            h.MarkAllUnlaid();
            for (auto& e : model)
                e.laid = false;
        }
        check();
        if (HasFatalFailure()) return;
    }
}

// The lines of every paragraph lie where the toolkit's own layout puts them: the same breaks, the
// same x (alignment, margins, first-line indent, list indent), the same heights and the same space
// between paragraphs.
TEST(EditorDocumentLayout, LinesMatchTheToolkitLayout)
{
    struct Case {
        const char* name;
        Qt::Alignment align;
        qreal left, right, textIndent, above, below;
        bool list;
    };
    const Case cases[] = {
        {"left", Qt::AlignLeft, 0, 0, 0, 0, 0, false},
        {"centre", Qt::AlignHCenter, 0, 0, 0, 0, 0, false},
        {"right", Qt::AlignRight, 0, 0, 0, 0, 0, false},
        {"justified", Qt::AlignJustify, 0, 0, 0, 0, 0, false},
        {"margins and indent", Qt::AlignLeft, 30, 20, 15, 0, 0, false},
        {"hanging indent", Qt::AlignLeft, 40, 0, -20, 0, 0, false},
        {"space before and after", Qt::AlignLeft, 0, 0, 0, 10, 7, false},
        {"space after wins", Qt::AlignLeft, 0, 0, 0, 3, 12, false},
        {"bullets", Qt::AlignLeft, 0, 0, 0, 0, 0, true},
    };
    const QString words = QStringLiteral(
        "The quick brown fox jumps over the lazy dog, and then it runs back again. ");
    for (const Case& c : cases) {
        for (const qreal width : {120.0, 333.0, 900.0}) {
            auto doc = EditorDocument(width);
            QTextDocument reference;
            reference.setDocumentMargin(0);
            reference.setPageSize(QSizeF(width, -1));
            for (QTextDocument* d : {doc.get(), &reference}) {
                QTextCursor cursor(d);
                QTextBlockFormat bf;
                bf.setAlignment(c.align);
                bf.setLeftMargin(c.left);
                bf.setRightMargin(c.right);
                bf.setTextIndent(c.textIndent);
                bf.setTopMargin(c.above);
                bf.setBottomMargin(c.below);
                cursor.setBlockFormat(bf);
                cursor.insertText(words.repeated(3));
                cursor.insertBlock(bf);
                cursor.insertText(QStringLiteral("short"));
                cursor.insertBlock(bf);
                QTextCharFormat big;
                big.setFontPointSize(20);
                cursor.insertText(QStringLiteral("Large "), big);
                cursor.insertText(words, QTextCharFormat());
                if (c.list) {
                    QTextCursor all(d);
                    all.select(QTextCursor::Document);
                    all.createList(QTextListFormat::ListDisc);
                }
            }
            for (QTextBlock a = doc->begin(), b = reference.begin(); a.isValid() && b.isValid();
                 a = a.next(), b = b.next()) {
                const QRectF ra = doc->documentLayout()->blockBoundingRect(a);
                const QRectF rb = reference.documentLayout()->blockBoundingRect(b);
                SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(int(width)) +
                             ", paragraph " + std::to_string(a.blockNumber()));
                ASSERT_EQ(a.layout()->lineCount(), b.layout()->lineCount());
                EXPECT_DOUBLE_EQ(ra.top(), rb.top());
                EXPECT_DOUBLE_EQ(ra.height(), rb.height());
                for (int i = 0; i < a.layout()->lineCount(); ++i) {
                    const QTextLine la = a.layout()->lineAt(i);
                    const QTextLine lb = b.layout()->lineAt(i);
                    EXPECT_EQ(la.textStart(), lb.textStart());
                    EXPECT_DOUBLE_EQ(ra.left() + la.x() + la.cursorToX(la.textStart()),
                                     rb.left() + lb.x() + lb.cursorToX(lb.textStart()))
                        << "line " << i;
                    EXPECT_DOUBLE_EQ(la.y(), lb.y() + (b.layout()->position().y() - rb.top()));
                }
            }
            EXPECT_DOUBLE_EQ(doc->documentLayout()->documentSize().height(),
                             reference.documentLayout()->documentSize().height());
        }
    }
}

// A point in the middle of the caret rectangle of every position hits that position, and points
// beside the text land on the nearest line's ends.
TEST(EditorDocumentLayout, HitTestFindsTheCaretsPositions)
{
    auto doc = EditorDocument(200);
    QTextCursor cursor(doc.get());
    cursor.insertText(QStringLiteral("Hit testing a wrapped paragraph of several words"));
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.insertBlock(centred);
    cursor.insertText(QStringLiteral("centred"));
    cursor.insertBlock(QTextBlockFormat());
    auto* layout = doc->documentLayout();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QRectF r = layout->blockBoundingRect(block);
        const QTextLayout* tl = block.layout();
        for (int i = 0; i < block.length() - 1; ++i) {
            const QTextLine line = tl->lineForTextPosition(i);
            // Positions that end a wrapped line are the next line's start; skip them.
            if (i > line.textStart() && i == line.textStart() + line.textLength()) continue;
            const QPointF at(r.left() + line.cursorToX(i) + 0.5, r.top() + line.y() + line.height() / 2);
            EXPECT_EQ(layout->hitTest(at, Qt::FuzzyHit), block.position() + i)
                << "block " << block.blockNumber() << " position " << i;
        }
        EXPECT_EQ(layout->hitTest(QPointF(-50, r.top() + 1), Qt::FuzzyHit), block.position());
        EXPECT_EQ(layout->hitTest(QPointF(-50, r.top() + 1), Qt::ExactHit), -1);
    }
    EXPECT_EQ(layout->hitTest(QPointF(-10, -100), Qt::FuzzyHit), 0);
    EXPECT_EQ(layout->hitTest(QPointF(10, 1e6), Qt::FuzzyHit), doc->characterCount() - 1);
}

// Typing and a line break near the top of a long document lay out the touched paragraphs only,
// and every paragraph below moves by exactly the new line's height; painting lays out only what
// shows, and the rest is laid out from the event loop.
TEST(EditorDocumentLayout, AChangeNearTheTopLaysOutOnlyItsParagraphs)
{
    auto doc = EditorDocument(400);
    QString text;
    for (int i = 0; i < 20000; ++i)
        text += QStringLiteral("line %1 of a long document\n").arg(i);
    doc->setPlainText(text);
    auto* layout = static_cast<TEditorDocumentLayout*>(doc->documentLayout());
    EXPECT_LE(layout->BlocksLaidOut(), TEditorDocumentLayout::kEagerBlocks);
    QImage image(400, 300, QImage::Format_ARGB32);
    {
        QPainter painter(&image);
        doc->drawContents(&painter, QRectF(0, 0, 400, 300));
    }
    EXPECT_LT(layout->BlocksLaidOut(), 40);
    layout->LayOutAll();
    ASSERT_TRUE(layout->Complete());

    const QTextBlock last = doc->lastBlock();
    const double lastTop = layout->blockBoundingRect(last).top();
    const double height = layout->documentSize().height();
    const double lineHeight = layout->blockBoundingRect(doc->begin()).height();
    const long long before = layout->BlocksLaidOut();
    QTextCursor cursor(doc.get());
    cursor.setPosition(3);
    cursor.insertText(QStringLiteral("x"));
    cursor.insertText(QStringLiteral("\n"));
    EXPECT_LE(layout->BlocksLaidOut() - before, 6);
    EXPECT_TRUE(layout->Complete());
    EXPECT_DOUBLE_EQ(layout->blockBoundingRect(doc->lastBlock()).top(), lastTop + lineHeight);
    EXPECT_DOUBLE_EQ(layout->documentSize().height(), height + lineHeight);
    // Removing the line break again moves everything back.
    cursor.deletePreviousChar();
    EXPECT_DOUBLE_EQ(layout->blockBoundingRect(doc->lastBlock()).top(), lastTop);
    EXPECT_LE(layout->BlocksLaidOut() - before, 9);
}

// Random edits (typing, line breaks, deletes across paragraphs, pastes, paragraph formats, undo)
// applied to a document with this layout and to one with the toolkit's: after each, every
// paragraph's top and the document's height agree, so the heights follow every kind of change.
TEST(EditorDocumentLayout, FollowsRandomEditsLikeTheToolkitLayout)
{
    auto doc = EditorDocument(260);
    QTextDocument reference;
    reference.setDocumentMargin(0);
    reference.setPageSize(QSizeF(260, -1));
    std::mt19937 rng(11);
    auto* layout = static_cast<TEditorDocumentLayout*>(doc->documentLayout());
    for (int step = 0; step < 300; ++step) {
        const int length = doc->characterCount() - 1;
        const int a = int(rng() % std::uint32_t(length + 1));
        const int b = int(rng() % std::uint32_t(length + 1));
        const int op = int(rng() % 7);
        for (QTextDocument* d : {doc.get(), &reference}) {
            QTextCursor c(d);
            c.setPosition(std::min(a, b));
            switch (op) {
            case 0:
                c.insertText(QStringLiteral("some words to wrap here "));
                break;
            case 1:
                c.insertText(QStringLiteral("\n"));
                break;
            case 2:
            case 3:
                c.setPosition(std::max(a, b), QTextCursor::KeepAnchor);
                c.removeSelectedText();
                break;
            case 4:
                c.insertText(QStringLiteral("pasted\none\ntwo three four five six seven eight\n"));
                break;
            case 5: {
                c.setPosition(std::max(a, b), QTextCursor::KeepAnchor);
                QTextBlockFormat f;
                f.setAlignment(step % 2 ? Qt::AlignRight : Qt::AlignHCenter);
                f.setLeftMargin(step % 3 * 10);
                f.setTopMargin(step % 4 * 3);
                f.setBottomMargin(step % 5 * 2);
                c.mergeBlockFormat(f);
                break;
            }
            default:
                d->undo();
                break;
            }
        }
        layout->LayOutAll();
        ASSERT_EQ(doc->blockCount(), reference.blockCount());
        for (QTextBlock x = doc->begin(), y = reference.begin(); x.isValid(); x = x.next(), y = y.next())
            ASSERT_DOUBLE_EQ(layout->blockBoundingRect(x).top(),
                             reference.documentLayout()->blockBoundingRect(y).top())
                << "step " << step << ", paragraph " << x.blockNumber();
        ASSERT_DOUBLE_EQ(layout->documentSize().height(),
                         reference.documentLayout()->documentSize().height())
            << "step " << step;
    }
}
