#include "editor/BlockHeights.h"

#include <algorithm>
#include <cassert>

namespace editor {

TBlockHeights::TBlockHeights()
{
    chunks_.emplace_back();
}

double TBlockHeights::MaxWidth() const
{
    if (maxWidthStale_) {
        float widest = 0;
        for (const Chunk& c : chunks_)
            widest = std::max(widest, c.maxWidth);
        maxWidth_ = widest;
        maxWidthStale_ = false;
    }
    return maxWidth_;
}

void TBlockHeights::Locate(int index, std::size_t* chunk, int* offset) const
{
    // Chunks are few (a few thousand for millions of entries): a linear walk over their sizes is
    // cheaper than keeping an index of them up to date.
    int rest = index;
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
        const int size = int(chunks_[i].entries.size());
        if (rest < size) {
            *chunk = i;
            *offset = rest;
            return;
        }
        rest -= size;
    }
    *chunk = chunks_.size() - 1;
    *offset = int(chunks_.back().entries.size()) + rest;
}

const TBlockHeights::Entry& TBlockHeights::At(int index) const
{
    assert(index >= 0 && index < count_);
    std::size_t c = 0;
    int o = 0;
    Locate(index, &c, &o);
    return chunks_[c].entries[std::size_t(o)];
}

void TBlockHeights::Set(int index, const Entry& entry)
{
    assert(index >= 0 && index < count_);
    std::size_t ci = 0;
    int o = 0;
    Locate(index, &ci, &o);
    Chunk& c = chunks_[ci];
    Entry& e = c.entries[std::size_t(o)];
    const Entry before = e;
    e = entry;
    Changed(c, before, e);
}

void TBlockHeights::Changed(Chunk& c, const Entry& before, const Entry& after)
{
    const double dh = double(after.height) - double(before.height);
    c.sum += dh;
    total_ += dh;
    const int du = int(!after.laid) - int(!before.laid);
    c.unlaid += du;
    unlaid_ += du;
    if (after.width < before.width && before.width >= c.maxWidth) {
        // The widest entry may have narrowed: the chunk's widest is found again.
        float widest = 0;
        for (const Entry& x : c.entries)
            widest = std::max(widest, x.width);
        c.maxWidth = widest;
        maxWidthStale_ = true;
    } else if (after.width > c.maxWidth) {
        c.maxWidth = after.width;
        if (!maxWidthStale_) maxWidth_ = std::max(maxWidth_, double(after.width));
    }
}

double TBlockHeights::Top(int index) const
{
    double top = 0;
    int rest = std::clamp(index, 0, count_);
    for (const Chunk& c : chunks_) {
        const int size = int(c.entries.size());
        if (rest >= size) {
            top += c.sum;
            rest -= size;
            continue;
        }
        for (int i = 0; i < rest; ++i)
            top += double(c.entries[std::size_t(i)].height);
        break;
    }
    return top;
}

int TBlockHeights::IndexAt(double y) const
{
    if (count_ == 0) return -1;
    if (y < 0) return 0;
    double top = 0;
    int index = 0;
    for (const Chunk& c : chunks_) {
        if (c.entries.empty()) continue;
        if (y >= top + c.sum) {
            top += c.sum;
            index += int(c.entries.size());
            continue;
        }
        for (const Entry& e : c.entries) {
            top += double(e.height);
            if (y < top) return index;
            ++index;
        }
        // Rounding in the chunk's sum: the chunk's last entry.
        return index - 1;
    }
    return count_ - 1;
}

int TBlockHeights::NextUnlaid(int from) const
{
    if (unlaid_ == 0 || from >= count_) return -1;
    from = std::max(from, 0);
    std::size_t ci = 0;
    int o = 0;
    Locate(from, &ci, &o);
    int index = from - o;
    for (; ci < chunks_.size(); ++ci) {
        const Chunk& c = chunks_[ci];
        if (c.unlaid > 0) {
            for (std::size_t i = std::size_t(o); i < c.entries.size(); ++i)
                if (!c.entries[i].laid) return index + int(i);
        }
        index += int(c.entries.size());
        o = 0;
    }
    return -1;
}

void TBlockHeights::Recompute(Chunk& c)
{
    double sum = 0;
    float widest = 0;
    int unlaid = 0;
    for (const Entry& e : c.entries) {
        sum += double(e.height);
        widest = std::max(widest, e.width);
        unlaid += e.laid ? 0 : 1;
    }
    c.sum = sum;
    c.maxWidth = widest;
    c.unlaid = unlaid;
}

void TBlockHeights::RecomputeTotals()
{
    double total = 0;
    int unlaid = 0;
    int count = 0;
    for (const Chunk& c : chunks_) {
        total += c.sum;
        unlaid += c.unlaid;
        count += int(c.entries.size());
    }
    total_ = total;
    unlaid_ = unlaid;
    count_ = count;
    maxWidthStale_ = true;
}

void TBlockHeights::Rebalance(std::size_t first, std::size_t last)
{
    // Splits the chunks first..last that grew too large and merges those that shrank too far into
    // a neighbour; chunks outside the range are left as they are.
    std::vector<Chunk> rebuilt;
    std::vector<Entry> pending;
    const std::size_t lo = first > 0 ? first - 1 : first;
    const std::size_t hi = std::min(last + 1, chunks_.size() - 1);
    std::size_t total = 0;
    for (std::size_t i = lo; i <= hi; ++i)
        total += chunks_[i].entries.size();
    const bool balanced = [&] {
        for (std::size_t i = first; i <= last; ++i) {
            const std::size_t size = chunks_[i].entries.size();
            if (size > std::size_t(2 * kChunk)) return false;
            if (size < std::size_t(kChunk / 4) && chunks_.size() > 1) return false;
        }
        return true;
    }();
    if (balanced) return;
    pending.reserve(total);
    for (std::size_t i = lo; i <= hi; ++i)
        pending.insert(pending.end(), chunks_[i].entries.begin(), chunks_[i].entries.end());
    for (std::size_t at = 0; at < pending.size();) {
        std::size_t take = std::min(std::size_t(kChunk), pending.size() - at);
        // The remainder joins the last chunk rather than making a small one.
        if (pending.size() - at - take < std::size_t(kChunk / 4)) take = pending.size() - at;
        Chunk c;
        c.entries.assign(pending.begin() + std::ptrdiff_t(at),
                         pending.begin() + std::ptrdiff_t(at + take));
        Recompute(c);
        rebuilt.push_back(std::move(c));
        at += take;
    }
    if (rebuilt.empty()) rebuilt.emplace_back();
    chunks_.erase(chunks_.begin() + std::ptrdiff_t(lo), chunks_.begin() + std::ptrdiff_t(hi + 1));
    chunks_.insert(chunks_.begin() + std::ptrdiff_t(lo), std::make_move_iterator(rebuilt.begin()),
                   std::make_move_iterator(rebuilt.end()));
}

void TBlockHeights::Splice(int index, int removeCount, const std::vector<Entry>& inserted)
{
    assert(index >= 0 && removeCount >= 0 && index + removeCount <= count_);
    std::size_t ci = 0;
    int o = 0;
    Locate(index, &ci, &o);
    const std::size_t firstChunk = ci;
    // Remove, chunk by chunk.
    int left = removeCount;
    std::size_t cj = ci;
    int oj = o;
    while (left > 0 && cj < chunks_.size()) {
        Chunk& c = chunks_[cj];
        const int here = std::min(left, int(c.entries.size()) - oj);
        if (here > 0) {
            c.entries.erase(c.entries.begin() + oj, c.entries.begin() + oj + here);
            Recompute(c);
            left -= here;
        }
        if (left > 0) {
            ++cj;
            oj = 0;
        }
    }
    const std::size_t lastTouched = std::min(cj, chunks_.size() - 1);
    // Insert where the removed entries began.
    Chunk& target = chunks_[ci];
    target.entries.insert(target.entries.begin() + std::min<std::ptrdiff_t>(o, std::ptrdiff_t(target.entries.size())),
                          inserted.begin(), inserted.end());
    Recompute(target);
    Rebalance(firstChunk, lastTouched);
    RecomputeTotals();
}

void TBlockHeights::MarkAllUnlaid()
{
    for (Chunk& c : chunks_) {
        for (Entry& e : c.entries)
            e.laid = false;
        c.unlaid = int(c.entries.size());
    }
    unlaid_ = count_;
}

void TBlockHeights::Clear()
{
    chunks_.clear();
    chunks_.emplace_back();
    count_ = 0;
    total_ = 0;
    unlaid_ = 0;
    maxWidth_ = 0;
    maxWidthStale_ = false;
}

}  // namespace editor
