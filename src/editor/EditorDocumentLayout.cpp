#include "editor/EditorDocumentLayout.h"

#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextList>

#include <algorithm>
#include <cmath>

namespace editor {

namespace {

// Far enough to stand for "to the end" in an update rectangle, small enough for integer pixels.
constexpr qreal kFar = 1e8;
// The width lines are laid out to when the document has no width (no wrapping then).
constexpr qreal kNoWidth = 1 << 24;

bool IsBullet(QTextListFormat::Style style)
{
    return style == QTextListFormat::ListDisc || style == QTextListFormat::ListCircle ||
           style == QTextListFormat::ListSquare;
}

}  // namespace

TEditorDocumentLayout::TEditorDocumentLayout(QTextDocument* doc)
    : QAbstractTextDocumentLayout(doc)
{
    background_.setSingleShot(true);
    background_.setInterval(0);
    connect(&background_, &QTimer::timeout, this, &TEditorDocumentLayout::BackgroundSlice);
    Rebuild();
}

bool TEditorDocumentLayout::CanLayOut() const
{
    return !document()->pageSize().isNull();
}

double TEditorDocumentLayout::Margin() const
{
    return document()->documentMargin();
}

double TEditorDocumentLayout::AvailableWidth() const
{
    const qreal width = document()->pageSize().width();
    if (width <= 0) return kNoWidth;
    return std::max<qreal>(width - 2 * Margin(), 0);
}

void TEditorDocumentLayout::MeasureGuess()
{
    // The guess's units: the height of a one-line paragraph in the default font, and its
    // average character width.
    QTextLayout probe(QStringLiteral("x"), document()->defaultFont(), paintDevice());
    probe.beginLayout();
    QTextLine line = probe.createLine();
    if (line.isValid()) line.setLineWidth(kNoWidth);
    probe.endLayout();
    lineGuess_ = line.isValid() ? line.height() : 1.0;
    charGuess_ = QFontMetricsF(document()->defaultFont(), paintDevice()).averageCharWidth();
}

void TEditorDocumentLayout::Rebuild()
{
    MeasureGuess();
    heights_.Clear();
    QTextBlock block = document()->begin();
    heights_.Replace(0, 0, document()->blockCount(), [&](int) {
        const TBlockHeights::Entry e = Guess(block);
        block = block.next();
        return e;
    });
    backgroundFrom_ = 0;
}

TBlockHeights::Entry TEditorDocumentLayout::Guess(const QTextBlock& block) const
{
    TBlockHeights::Entry e;
    double lines = 1;
    if (CanLayOut() && document()->pageSize().width() > 0 && charGuess_ > 0) {
        const double avail = std::max(AvailableWidth(), charGuess_);
        lines = std::max(1.0, std::ceil(double(block.length() - 1) * charGuess_ / avail));
    }
    e.height = float(lineGuess_ * lines);
    return e;
}

TBlockHeights::Entry TEditorDocumentLayout::LayOutBlock(const QTextBlock& block) const
{
    QTextDocument* doc = document();
    QTextLayout* tl = block.layout();
    const QTextBlockFormat bf = block.blockFormat();
    const bool wraps = doc->pageSize().width() > 0;

    QTextOption option = doc->defaultTextOption();
    Qt::LayoutDirection dir = bf.layoutDirection();
    if (dir == Qt::LayoutDirectionAuto) dir = block.textDirection();
    option.setTextDirection(dir);
    Qt::Alignment align = bf.hasProperty(QTextFormat::BlockAlignment)
                              ? bf.alignment() & Qt::AlignHorizontal_Mask
                              : option.alignment() & Qt::AlignHorizontal_Mask;
    if (!wraps) align = Qt::AlignLeft;
    if (dir == Qt::RightToLeft && !(align & Qt::AlignAbsolute)) {
        // Left and right alignment are relative to the paragraph's direction.
        if (align & Qt::AlignLeft)
            align = (align & ~Qt::AlignLeft) | Qt::AlignRight;
        else if (align & Qt::AlignRight)
            align = (align & ~Qt::AlignRight) | Qt::AlignLeft;
    }
    option.setAlignment(align);
    if (!wraps || bf.nonBreakableLines()) option.setWrapMode(QTextOption::NoWrap);
    if (!bf.tabPositions().isEmpty()) option.setTabs(bf.tabPositions());
    tl->setTextOption(option);

    double left = bf.leftMargin() + bf.indent() * doc->indentWidth();
    if (QTextList* list = block.textList()) left += list->format().indent() * doc->indentWidth();
    const double right = bf.rightMargin();
    const double avail = AvailableWidth() - left - right;

    double y = 0;
    double widest = 0;
    tl->beginLayout();
    for (int n = 0;; ++n) {
        QTextLine line = tl->createLine();
        if (!line.isValid()) break;
        const double indent = n == 0 ? bf.textIndent() : 0;
        line.setLineWidth(std::max(avail - indent, 1.0));
        line.setPosition(QPointF(dir == Qt::RightToLeft ? left : left + indent, y));
        y += line.height();
        widest = std::max(widest, line.x() + line.naturalTextWidth() + right);
    }
    tl->endLayout();
    tl->setPosition(QPointF(0, 0));
    ++laidOut_;
    laidSinceComplete_ = true;

    TBlockHeights::Entry e;
    e.height = float(SpaceAbove(block, bf) + y);
    e.width = float(widest);
    e.laid = true;
    return e;
}

bool TEditorDocumentLayout::EnsureLaidOut(const QTextBlock& block, int index) const
{
    if (!CanLayOut() || index < 0 || index >= heights_.Count()) return false;
    const TBlockHeights::Entry& e = heights_.At(index);
    if (e.laid && block.layout()->lineCount() > 0) return false;
    const float before = e.height;
    const TBlockHeights::Entry fresh = LayOutBlock(block);
    heights_.Set(index, fresh);
    if (fresh.height == before) return false;
    // The size changed where the control did not ask for a change: it hears of it from the
    // event loop, not in the middle of its painting or hit testing.
    QMetaObject::invokeMethod(const_cast<TEditorDocumentLayout*>(this),
                              &TEditorDocumentLayout::EmitSizeIfChanged, Qt::QueuedConnection);
    return true;
}

double TEditorDocumentLayout::SpaceAbove(const QTextBlock& block, const QTextBlockFormat& format)
{
    // Between two paragraphs the larger of the space after the first and the space before the
    // second; none above the first paragraph nor below the last.
    const QTextBlock previous = block.previous();
    if (!previous.isValid()) return 0;
    return std::max({format.topMargin(), previous.blockFormat().bottomMargin(), 0.0});
}

QRectF TEditorDocumentLayout::LinesRect(const QTextBlock& block, int index) const
{
    return LinesRect(block, Margin() + heights_.Top(index), heights_.At(index));
}

QRectF TEditorDocumentLayout::LinesRect(const QTextBlock& block, double top,
                                        const TBlockHeights::Entry& entry) const
{
    const double space = SpaceAbove(block, block.blockFormat());
    const double height = std::max(0.0, double(entry.height) - space);
    const double page = document()->pageSize().width() > 0 ? AvailableWidth() : 0.0;
    return QRectF(Margin(), top + space, std::max(page, double(entry.width)), height);
}

QRectF TEditorDocumentLayout::blockBoundingRect(const QTextBlock& block) const
{
    if (!CanLayOut() || !block.isValid() || block.document() != document()) return QRectF();
    const int index = block.blockNumber();
    if (index >= heights_.Count()) return QRectF();
    EnsureLaidOut(block, index);
    return LinesRect(block, index);
}

QRectF TEditorDocumentLayout::frameBoundingRect(QTextFrame* frame) const
{
    if (frame != document()->rootFrame()) return QRectF();
    return QRectF(QPointF(0, 0), documentSize());
}

QSizeF TEditorDocumentLayout::documentSize() const
{
    const double m = Margin();
    const qreal page = document()->pageSize().width();
    const double width = std::max(page > 0 ? double(page) : 0.0, heights_.MaxWidth() + 2 * m);
    return QSizeF(width, heights_.Total() + 2 * m);
}

int TEditorDocumentLayout::hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const
{
    if (!CanLayOut() || heights_.Count() == 0) return -1;
    const int index = heights_.IndexAt(point.y() - Margin());
    const QTextBlock block = document()->findBlockByNumber(index);
    if (!block.isValid()) return -1;
    EnsureLaidOut(block, index);
    const QRectF lines = LinesRect(block, index);
    const QTextLayout* tl = block.layout();
    if (tl->lineCount() == 0) return block.position();
    const QPointF p = point - lines.topLeft();
    int n = 0;
    while (n < tl->lineCount() - 1 && p.y() >= tl->lineAt(n).y() + tl->lineAt(n).height())
        ++n;
    const QTextLine line = tl->lineAt(n);
    if (accuracy == Qt::ExactHit) {
        if (p.y() < line.y() || p.y() >= line.y() + line.height()) return -1;
        const qreal x0 = line.x();
        if (p.x() < x0 || p.x() >= x0 + line.naturalTextWidth()) return -1;
        return block.position() + line.xToCursor(p.x(), QTextLine::CursorOnCharacter);
    }
    return block.position() + line.xToCursor(p.x());
}

void TEditorDocumentLayout::draw(QPainter* painter, const PaintContext& context)
{
    if (!CanLayOut() || heights_.Count() == 0) return;
    const QRectF clip = context.clip.isValid() ? context.clip : QRectF(-kFar, -kFar, 2 * kFar, 2 * kFar);
    const double m = Margin();
    const int first = heights_.IndexAt(clip.top() - m);
    double top = m + heights_.Top(first);
    QTextBlock block = document()->findBlockByNumber(first);
    bool changed = false;
    heights_.Walk(first, [&](int, TBlockHeights::Entry& e) {
        if (!block.isValid() || top > clip.bottom()) return false;
        if (!e.laid || block.layout()->lineCount() == 0) {
            const float before = e.height;
            e = LayOutBlock(block);
            changed = changed || e.height != before;
        }
        DrawBlock(painter, context, block, LinesRect(block, top, e), top, e.height);
        top += e.height;
        block = block.next();
        return true;
    });
    if (changed)
        QMetaObject::invokeMethod(this, &TEditorDocumentLayout::EmitSizeIfChanged,
                                  Qt::QueuedConnection);
}

void TEditorDocumentLayout::DrawBlock(QPainter* painter, const PaintContext& context,
                                      const QTextBlock& block, const QRectF& lines, double top,
                                      double height) const
{
    QTextLayout* tl = block.layout();
    const QTextBlockFormat bf = block.blockFormat();
    if (bf.hasProperty(QTextFormat::BackgroundBrush))
        painter->fillRect(QRectF(lines.left(), top, lines.width(), height), bf.background());

    const int pos = block.position();
    const int len = block.length();
    QList<QTextLayout::FormatRange> selections;
    const QTextCharFormat* separatorFormat = nullptr;
    for (const Selection& range : context.selections) {
        const int start = range.cursor.selectionStart() - pos;
        const int end = range.cursor.selectionEnd() - pos;
        if (start < len && end > 0 && end > start) {
            QTextLayout::FormatRange r;
            r.start = start;
            r.length = end - start;
            r.format = range.format;
            selections.append(r);
            // A selection that runs on past the paragraph's end covers its line break.
            if (end >= len && start < len) separatorFormat = &range.format;
        } else if (!range.cursor.hasSelection() &&
                   range.format.hasProperty(QTextFormat::FullWidthSelection) &&
                   block.contains(range.cursor.position())) {
            const QTextLine line = tl->lineForTextPosition(range.cursor.position() - pos);
            if (!line.isValid()) continue;
            QTextLayout::FormatRange r;
            r.start = line.textStart();
            r.length = line.textLength();
            if (r.start + r.length == len - 1) ++r.length;
            r.format = range.format;
            selections.append(r);
        }
    }

    painter->setPen(context.palette.color(QPalette::Text));
    tl->draw(painter, lines.topLeft(), selections, context.clip);

    if (separatorFormat && block.next().isValid() && tl->lineCount() > 0) {
        const QTextLine last = tl->lineAt(tl->lineCount() - 1);
        const QFontMetricsF fm(block.charFormat().font(), painter->device());
        const QRectF mark(lines.left() + last.x() + last.naturalTextWidth(), lines.top() + last.y(),
                          fm.horizontalAdvance(QLatin1Char(' ')), last.height());
        painter->fillRect(mark, separatorFormat->background());
    }

    DrawListMarker(painter, block, lines);

    const int cursor = context.cursorPosition;
    const bool preedit = cursor < -1 && !tl->preeditAreaText().isEmpty();
    if ((cursor >= pos && cursor < pos + len) || preedit) {
        const int at = preedit ? tl->preeditAreaPosition() - (cursor + 2) : cursor - pos;
        bool ok = false;
        int cursorWidth = property("cursorWidth").toInt(&ok);
        if (!ok) cursorWidth = 1;
        tl->drawCursor(painter, lines.topLeft(), at, cursorWidth);
    }
}

void TEditorDocumentLayout::DrawListMarker(QPainter* painter, const QTextBlock& block,
                                           const QRectF& lines) const
{
    QTextList* list = block.textList();
    const QTextLayout* tl = block.layout();
    if (!list || tl->lineCount() == 0) return;
    const QTextLine first = tl->lineAt(0);
    const QTextCharFormat cf = block.charFormat();
    const QFont font = cf.font();
    const QFontMetricsF fm(font, painter->device());
    const bool rtl = tl->textOption().textDirection() == Qt::RightToLeft;
    const double gap = fm.horizontalAdvance(QLatin1Char(' '));
    const double baseline = lines.top() + first.y() + first.ascent();
    const double textEdge = rtl ? lines.left() + first.x() + first.width() : lines.left() + first.x();
    const QColor colour = cf.hasProperty(QTextFormat::ForegroundBrush)
                              ? cf.foreground().color()
                              : painter->pen().color();

    painter->save();
    const QTextListFormat::Style style = list->format().style();
    if (IsBullet(style)) {
        const double size = std::max(3.0, std::round(fm.xHeight() * 0.6));
        const double x = rtl ? textEdge + gap : textEdge - gap - size;
        const QRectF r(x, baseline - fm.xHeight() / 2 - size / 2, size, size);
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(QPen(colour, 1));
        if (style == QTextListFormat::ListSquare) {
            painter->fillRect(r, colour);
        } else {
            painter->setBrush(style == QTextListFormat::ListDisc ? QBrush(colour) : QBrush());
            painter->drawEllipse(r);
        }
    } else {
        const QString text = list->itemText(block);
        const double width = fm.horizontalAdvance(text);
        const double x = rtl ? textEdge + gap : textEdge - gap - width;
        painter->setFont(font);
        painter->setPen(colour);
        painter->drawText(QPointF(x, baseline), text);
    }
    painter->restore();
}

void TEditorDocumentLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    QTextDocument* doc = document();
    const int blocks = doc->blockCount();
    const bool whole = from == 0 && charsRemoved == 0 && charsAdded >= doc->characterCount();
    if (whole) {
        // A new width, default font or text option, or a new content: every paragraph is laid
        // out again; the heights found so far stay as guesses while the block count is the same.
        if (heights_.Count() == blocks) {
            MeasureGuess();
            heights_.MarkAllUnlaid();
            backgroundFrom_ = 0;
        } else {
            Rebuild();
        }
        if (blocks <= kEagerBlocks) LayOutAll();
        emit update(QRectF(-kFar, -kFar, 2 * kFar, 2 * kFar));
        EmitSizeIfChanged();
        ScheduleBackground();
        return;
    }

    QTextBlock first = doc->findBlock(from);
    if (!first.isValid()) first = doc->lastBlock();
    QTextBlock last = doc->findBlock(from + charsAdded);
    if (!last.isValid()) last = doc->lastBlock();
    const int start = first.blockNumber();
    const int fresh = last.blockNumber() - start + 1;
    const int old = fresh - (blocks - heights_.Count());
    if (old < 0 || start + old > heights_.Count()) {
        // Not a change these heights can follow: count every paragraph again.
        Rebuild();
        emit update(QRectF(-kFar, -kFar, 2 * kFar, 2 * kFar));
        EmitSizeIfChanged();
        ScheduleBackground();
        return;
    }

    QTextBlock block = first;
    heights_.Replace(start, old, fresh, [&](int) {
        const TBlockHeights::Entry e = Guess(block);
        block = block.next();
        return e;
    });
    // The paragraph after the change may have a new neighbour above, and so new space above.
    const int changed = std::min(fresh + 1, heights_.Count() - start);
    if (changed > fresh) {
        TBlockHeights::Entry next = heights_.At(start + fresh);
        next.laid = false;
        heights_.Set(start + fresh, next);
    }
    backgroundFrom_ = std::min(backgroundFrom_, start);
    if (backgroundChangedFrom_ > start) backgroundChangedFrom_ = start;

    const double top = Margin() + heights_.Top(start);
    double span = kFar;
    if (CanLayOut() && fresh <= kEagerBlocks) {
        double before = 0;
        double after = 0;
        block = first;
        heights_.Walk(start, [&](int index, TBlockHeights::Entry& e) {
            if (index >= start + changed || !block.isValid()) return false;
            before += e.height;
            if (!e.laid) e = LayOutBlock(block);
            after += e.height;
            block = block.next();
            return true;
        });
        // Paragraphs below move only when the changed ones changed in height or number.
        if (before == after && old == fresh) span = after;
    }
    emit update(QRectF(-kFar, top, 2 * kFar, span));
    EmitSizeIfChanged();
    ScheduleBackground();
}

void TEditorDocumentLayout::EmitSizeIfChanged()
{
    const QSizeF size = documentSize();
    if (size == reportedSize_) return;
    reportedSize_ = size;
    emit documentSizeChanged(size);
}

void TEditorDocumentLayout::ScheduleBackground()
{
    if (CanLayOut() && heights_.Unlaid() > 0 && !background_.isActive()) background_.start();
}

void TEditorDocumentLayout::BackgroundSlice()
{
    if (!CanLayOut()) return;
    QElapsedTimer slice;
    slice.start();
    int index = heights_.NextUnlaid(backgroundFrom_);
    if (index < 0) index = heights_.NextUnlaid(0);
    if (index >= 0) {
        QTextBlock block = document()->findBlockByNumber(index);
        int n = 0;
        heights_.Walk(index, [&](int i, TBlockHeights::Entry& e) {
            if (!block.isValid()) return false;
            if (!e.laid) {
                const float before = e.height;
                e = LayOutBlock(block);
                if (e.height != before && backgroundChangedFrom_ < 0) backgroundChangedFrom_ = i;
            }
            block = block.next();
            backgroundFrom_ = i + 1;
            return (++n & 15) != 0 || slice.elapsed() < kSliceMs;
        });
        if (heights_.Unlaid() > 0) {
            // The control hears of the moved paragraphs a few times a second, not after every
            // slice: each notice repaints it and adjusts its scroll bars.
            if (backgroundChangedFrom_ >= 0 && (!sinceNotice_.isValid() || sinceNotice_.elapsed() >= kNoticeMs))
                NoticeBackgroundChanges();
            background_.start();
            return;
        }
    }
    NoticeBackgroundChanges();
    if (laidSinceComplete_) {
        // The whole document is laid out: whoever counts its lines counts them again.
        laidSinceComplete_ = false;
        reportedSize_ = documentSize();
        emit documentSizeChanged(reportedSize_);
    }
}

void TEditorDocumentLayout::NoticeBackgroundChanges()
{
    sinceNotice_.start();
    if (backgroundChangedFrom_ < 0) return;
    const int from = std::min(backgroundChangedFrom_, heights_.Count() - 1);
    backgroundChangedFrom_ = -1;
    emit update(QRectF(-kFar, Margin() + heights_.Top(std::max(from, 0)), 2 * kFar, kFar));
    EmitSizeIfChanged();
}

void TEditorDocumentLayout::LayOutAll()
{
    if (!CanLayOut() || heights_.Unlaid() == 0) return;
    QTextBlock block = document()->begin();
    heights_.Walk(0, [&](int, TBlockHeights::Entry& e) {
        if (!block.isValid()) return false;
        if (!e.laid) e = LayOutBlock(block);
        block = block.next();
        return true;
    });
    background_.stop();
    backgroundChangedFrom_ = -1;
    laidSinceComplete_ = false;
    reportedSize_ = documentSize();
    emit documentSizeChanged(reportedSize_);
    emit update(QRectF(-kFar, -kFar, 2 * kFar, 2 * kFar));
}

void TEditorDocumentLayout::LayOutWholeDocument(QTextDocument* doc)
{
    if (auto* own = qobject_cast<TEditorDocumentLayout*>(doc->documentLayout()))
        own->LayOutAll();
    else
        doc->documentLayout()->documentSize();
}

}  // namespace editor
