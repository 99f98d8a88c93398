// TEditorDocumentLayout: the document layout of the editor's rich-text control. It lays out
// paragraphs (alignment, margins, first-line indent, bullets and numbered lists, character
// formats) one below the other, and paints, hit-tests and measures them for the control.
//
// Why not the toolkit's own layout: that one keeps every paragraph's position in the paragraph
// and, on each change, walks every following paragraph to move it, so one keystroke near the top
// of a document of millions of lines takes more than a second. Here a paragraph's position is
// never stored in it: the heights live in a TBlockHeights, a paragraph's top is summed from them,
// and a change lays out only the paragraphs it touched.
//
// Rules:
// - Nothing is laid out while the document has no page size (a control that was never shown);
//   the paragraphs then count with a guessed height of one line each.
// - A change of up to kEagerBlocks paragraphs is laid out at once, so the caret, the scroll bars
//   and the line count see it before the change returns; a larger one (a paste, a new width) is
//   laid out where it is painted or asked for, and the rest from the event loop in slices of at
//   most kSliceMs, top to bottom. Until then a paragraph counts with a guess from its length.
// - documentSizeChanged is emitted when a change alters the size, and once more when the layout
//   of the whole document is complete (the line count waits for it). While the event loop lays
//   the document out, the control hears of moved paragraphs at most every kNoticeMs.
// - Each paragraph's lines are positioned from the paragraph's top left (blockBoundingRect), as
//   the control's caret and selection code expects. Between two paragraphs stands the larger of
//   the first one's space after and the second one's space before (a paragraph's height holds
//   the space above it), none above the first paragraph or below the last.
// - Tables, frames other than the root and inline objects are not laid out (the editor makes
//   none); their text flows as plain paragraphs.
#pragma once

#include "editor/BlockHeights.h"

#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QTimer>

class QTextBlock;
class QTextBlockFormat;
class QTextDocument;

namespace editor {

class TEditorDocumentLayout : public QAbstractTextDocumentLayout {
    Q_OBJECT

public:
    explicit TEditorDocumentLayout(QTextDocument* doc);

    void draw(QPainter* painter, const PaintContext& context) override;
    int hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override;
    QRectF frameBoundingRect(QTextFrame* frame) const override;
    QRectF blockBoundingRect(const QTextBlock& block) const override;

    // Lays out every paragraph not laid out yet, now.
    void LayOutAll();
    // True when every paragraph is laid out at the current width.
    bool Complete() const { return heights_.Unlaid() == 0; }
    // Paragraphs laid out since the layout was made (a change lays out only its own).
    long long BlocksLaidOut() const { return laidOut_; }

    // Makes sure every paragraph of doc is laid out, whatever its layout.
    static void LayOutWholeDocument(QTextDocument* doc);

    // Paragraphs a change lays out at once.
    static constexpr int kEagerBlocks = 64;
    // Longest time one slice of the layout from the event loop may take.
    static constexpr int kSliceMs = 4;
    // How often the layout from the event loop tells the control of the paragraphs it moved.
    static constexpr int kNoticeMs = 200;

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    // Whether the document has a page size to lay out to.
    bool CanLayOut() const;
    // The width available to the paragraphs (the page width less the document's margins); a
    // large value without a width (no wrapping).
    double AvailableWidth() const;
    double Margin() const;
    // Lays out block (paragraph number index) when it is not laid out at the current width.
    // Returns true when its height changed.
    bool EnsureLaidOut(const QTextBlock& block, int index) const;
    TBlockHeights::Entry LayOutBlock(const QTextBlock& block) const;
    TBlockHeights::Entry Guess(const QTextBlock& block) const;
    // The rectangle of block's lines (paragraph number index, laid out), which the lines'
    // positions start from.
    QRectF LinesRect(const QTextBlock& block, int index) const;
    // The same for a paragraph whose top (the space above it included) is top.
    QRectF LinesRect(const QTextBlock& block, double top, const TBlockHeights::Entry& entry) const;
    // The space between block and the paragraph above it.
    static double SpaceAbove(const QTextBlock& block, const QTextBlockFormat& format);
    void DrawBlock(QPainter* painter, const PaintContext& context, const QTextBlock& block,
                   const QRectF& lines, double top, double height) const;
    void DrawListMarker(QPainter* painter, const QTextBlock& block, const QRectF& lines) const;
    void MeasureGuess();
    // Counts every paragraph again with a guessed height.
    void Rebuild();
    void BackgroundSlice();
    void ScheduleBackground();
    void EmitSizeIfChanged();
    // Repaints from the first paragraph the event loop's layout changed in height, and reports
    // the new size.
    void NoticeBackgroundChanges();

    mutable TBlockHeights heights_;
    mutable long long laidOut_ = 0;
    // The height of one line of the default font (the guess's unit) and its average character
    // width.
    double lineGuess_ = 0;
    double charGuess_ = 0;
    // The size last reported by documentSizeChanged.
    mutable QSizeF reportedSize_;
    // The next paragraph the layout from the event loop looks at.
    mutable int backgroundFrom_ = 0;
    // The first paragraph the event loop's layout changed in height since its last notice (-1:
    // none), and the time since that notice.
    int backgroundChangedFrom_ = -1;
    QElapsedTimer sinceNotice_;
    // Whether a paragraph was laid out since the layout last announced it was complete.
    mutable bool laidSinceComplete_ = false;
    QTimer background_;
};

}  // namespace editor
