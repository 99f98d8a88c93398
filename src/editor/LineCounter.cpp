#include "editor/LineCounter.h"

#include "editor/EditorDocumentLayout.h"

#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QTextBlock>
#include <QTextLayout>

namespace editor {

// The lines that blocks add beyond their first, summed over the blocks that carry a record. Shared
// with the records, which may outlive the counter (they go with the document).
struct TLineCounter::Total {
    std::int64_t extra = 0;
};

// The record of a block that adds lines.
class TLineCounter::BlockLines : public QTextBlockUserData {
public:
    BlockLines(std::shared_ptr<Total> total, std::int64_t extra)
        : total_(std::move(total)), extra_(extra)
    {
        total_->extra += extra_;
    }
    ~BlockLines() override { total_->extra -= extra_; }
    bool SameTotal(const std::shared_ptr<Total>& total) const { return total_ == total; }
    std::int64_t Extra() const { return extra_; }
    void SetExtra(std::int64_t extra)
    {
        total_->extra += extra - extra_;
        extra_ = extra;
    }

private:
    std::shared_ptr<Total> total_;
    std::int64_t extra_;
};

namespace {

// Lines a block adds beyond its first: its wrapped screen lines, or its line separators.
std::int64_t ExtraLines(const QTextBlock& block, bool wrapped)
{
    if (wrapped) {
        const QTextLayout* layout = block.layout();
        if (layout && layout->lineCount() > 1) return layout->lineCount() - 1;
    }
    return block.text().count(QChar::LineSeparator);
}

}  // namespace

TLineCounter::TLineCounter(QTextDocument* doc, bool wrapped, QObject* parent)
    : QObject(parent), doc_(doc), total_(std::make_shared<Total>()), wrapped_(wrapped)
{
    recountTimer_.setSingleShot(true);
    recountTimer_.setInterval(0);
    connect(&recountTimer_, &QTimer::timeout, this, &TLineCounter::RecountSlice);
    connect(doc, &QTextDocument::contentsChange, this, &TLineCounter::ContentsChange);
    if (QAbstractTextDocumentLayout* layout = doc->documentLayout())
        connect(layout, &QAbstractTextDocumentLayout::documentSizeChanged, this,
                &TLineCounter::LayoutChanged);
    pendingFrom_ = 0;
    pendingTo_ = doc->characterCount();
    SettlePending(false);
}

TLineCounter::~TLineCounter()
{
    // The records stay with the blocks; they only ever touch the shared total.
}

void TLineCounter::ContentsChange(int position, int charsRemoved, int charsAdded)
{
    const int delta = charsAdded - charsRemoved;
    const auto shift = [&](int p) {
        if (p <= position) return p;
        if (p >= position + charsRemoved) return p + delta;
        return position + charsAdded;
    };
    if (pendingFrom_ > pendingTo_) {
        pendingFrom_ = position;
        pendingTo_ = position + charsAdded;
    } else {
        pendingFrom_ = std::min(shift(pendingFrom_), position);
        pendingTo_ = std::max(shift(pendingTo_), position + charsAdded);
    }
    if (recountPos_ > position) recountPos_ = shift(recountPos_);
}

void TLineCounter::SettlePending(bool withoutSeparators)
{
    if (!doc_ || pendingFrom_ > pendingTo_) return;
    const int from = pendingFrom_;
    const int to = pendingTo_;
    pendingFrom_ = 1;
    pendingTo_ = 0;
    QTextBlock block = doc_->findBlock(from);
    if (!block.isValid()) block = doc_->lastBlock();
    // Text known to hold no line separators adds lines only by wrapping.
    const bool eachBlock = wrapped_ || !withoutSeparators;
    for (; block.isValid(); block = block.next()) {
        if (eachBlock || block.userData()) CountBlock(block);
        if (block.position() + block.length() > to) break;
    }
}

bool TLineCounter::CountBlock(const QTextBlock& block)
{
    const std::int64_t extra = ExtraLines(block, wrapped_);
    auto* record = static_cast<BlockLines*>(block.userData());
    if (record && !record->SameTotal(total_)) record = nullptr;
    if (record) {
        if (record->Extra() == extra) return false;
        record->SetExtra(extra);
        return true;
    }
    if (extra == 0) return false;
    QTextBlock target = block;
    target.setUserData(new BlockLines(total_, extra));
    return true;
}

bool TLineCounter::RecountBlock(const QTextBlock& block)
{
    // A block without a record has no line separators (it was counted so): only its screen
    // lines can have changed with the layout.
    if (!block.userData()) {
        if (!wrapped_) return false;
        const QTextLayout* layout = block.layout();
        if (!layout || layout->lineCount() <= 1) return false;
    }
    return CountBlock(block);
}

std::int64_t TLineCounter::CurrentCount() const
{
    if (!doc_) return 0;
    const QTextBlock last = doc_->lastBlock();
    const bool dropLast = last.isValid() && last.length() <= 1;
    return std::int64_t(doc_->blockCount()) + total_->extra - (dropLast ? 1 : 0);
}

std::int64_t TLineCounter::Count()
{
    SettlePending(false);
    return CurrentCount();
}

std::int64_t TLineCounter::CountPlainChange()
{
    SettlePending(true);
    return CurrentCount();
}

void TLineCounter::SetWrapped(bool wrapped)
{
    if (wrapped == wrapped_) return;
    wrapped_ = wrapped;
    StartRecount();
}

void TLineCounter::LayoutChanged()
{
    // Without word wrap the layout does not decide the count. The editor's layout, while it
    // lays out the document from the event loop, announces when it is done; counting before that
    // would be done again.
    if (!wrapped_ || !doc_) return;
    if (auto* own = qobject_cast<TEditorDocumentLayout*>(doc_->documentLayout());
        own && !own->Complete())
        return;
    StartRecount();
}

void TLineCounter::StartRecount()
{
    if (recountPos_ >= 0) {
        recountAgain_ = true;
        return;
    }
    countBeforeRecount_ = CurrentCount();
    recountPos_ = 0;
    recountTimer_.start();
}

void TLineCounter::RecountSlice()
{
    if (!doc_ || recountPos_ < 0) return;
    QElapsedTimer slice;
    slice.start();
    QTextBlock block = doc_->findBlock(recountPos_);
    int n = 0;
    while (block.isValid()) {
        RecountBlock(block);
        block = block.next();
        if ((++n & 255) == 0 && slice.elapsed() >= kSliceMs) break;
    }
    if (block.isValid()) {
        recountPos_ = block.position();
        recountTimer_.start();
        return;
    }
    recountPos_ = -1;
    if (recountAgain_) {
        recountAgain_ = false;
        recountPos_ = 0;
        recountTimer_.start();
        return;
    }
    SettlePending(false);
    if (CurrentCount() != countBeforeRecount_) emit Changed();
}

void TLineCounter::FinishRecount()
{
    while (recountPos_ >= 0) {
        recountTimer_.stop();
        RecountSlice();
    }
}

}  // namespace editor
