// TLineCounter: the line count of a document (DocumentLineCount's count) kept up to date from the
// document's change signal, so that a keystroke in a document of millions of lines costs a few
// blocks of counting instead of a walk over every paragraph.
//
// The count is the number of blocks, plus for every block the lines it adds beyond its first
// (with word wrap: the screen lines of a block that wraps; otherwise, and for a block not laid out
// yet, its line separators), minus the empty block after a final line break. A block that adds
// lines carries a small record (its block user data) holding how many; the records add up into
// one total, and a record that goes with its block (a deleted or merged paragraph) takes its lines
// out of the total as it goes. A change of the document is noted from contentsChange and the
// blocks it touched are counted again once the layout has taken the change (Count, called from
// the control's textChanged). With word wrap, a change of the layout that comes without a change
// of the text (a new width, a layout that is finished later) is followed by a recount of every
// block's screen lines, done from the event loop in slices of a few milliseconds, so typing never
// waits for it; Changed is emitted when such a recount changed the count.
//
// The counter must be the only user of the document's block user data. It follows the document's
// layout (QTextDocument::documentLayout, which makes the default layout when there is none).
#pragma once

#include <QObject>
#include <QPointer>
#include <QTextDocument>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace editor {

class TLineCounter : public QObject {
    Q_OBJECT
public:
    // Counts doc from now on (one full count here).
    explicit TLineCounter(QTextDocument* doc, bool wrapped, QObject* parent = nullptr);
    ~TLineCounter() override;

    // Word wrap on or off; the blocks are counted again from the event loop.
    void SetWrapped(bool wrapped);
    bool Wrapped() const { return wrapped_; }

    // The count now, after the blocks the last changes touched have been counted again.
    std::int64_t Count();
    // The same, when the text the last changes put in is known to hold no line separators (plain
    // lines, such as an import's): without word wrap only the touched blocks that added lines
    // before are counted again, so a million new lines cost no more than walking over them.
    std::int64_t CountPlainChange();
    // True while a recount of every block is due or under way.
    bool Recounting() const { return recountPos_ >= 0 || recountAgain_; }
    // Runs the pending recount to its end at once (tests, benchmarks).
    void FinishRecount();

    // Longest time one slice of a recount may take.
    static constexpr int kSliceMs = 4;

signals:
    // A recount from the event loop changed the count.
    void Changed();

private:
    struct Total;
    class BlockLines;

    void ContentsChange(int position, int charsRemoved, int charsAdded);
    void LayoutChanged();
    void SettlePending(bool withoutSeparators);
    // Counts one block again; true when its lines changed.
    bool CountBlock(const QTextBlock& block);
    // Counts the block's screen lines again when it may have changed with the layout.
    bool RecountBlock(const QTextBlock& block);
    void StartRecount();
    void RecountSlice();
    std::int64_t CurrentCount() const;

    QPointer<QTextDocument> doc_;
    std::shared_ptr<Total> total_;
    bool wrapped_;
    // The range the changes since the last Count touched, in the document's current positions
    // (from > to: none).
    int pendingFrom_ = 1;
    int pendingTo_ = 0;
    // The recount of every block: the position of the next block to count (-1: none runs), and
    // whether another one is due after it.
    int recountPos_ = -1;
    bool recountAgain_ = false;
    std::int64_t countBeforeRecount_ = 0;
    qreal layoutWidth_ = -1;
    QTimer recountTimer_;
};

}  // namespace editor
