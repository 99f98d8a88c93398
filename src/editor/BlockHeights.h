// TBlockHeights: the height and width of every paragraph of a document, in document order, kept
// so that a paragraph's top, the paragraph at a given height and the document's size are found in
// a few thousand steps for millions of paragraphs, and inserting or removing paragraphs anywhere
// costs no more. The editor's document layout keeps one; it holds no Qt types so it is tested on
// its own.
//
// Entries live in chunks of a few hundred, each with the sum of its heights, the widest entry and
// the number of entries not laid out yet. A paragraph's top is the sum of the chunks before it plus
// the entries before it in its chunk; nothing is stored per paragraph that a change elsewhere would
// have to update, which is what keeps a keystroke near the top of a long document cheap.
//
// Heights and widths are floats (the layout's lengths are multiples of 1/64 pixel, exact in a float
// up to 262,144 pixels); sums are doubles, exact for any document this size.
#pragma once

#include <cstddef>
#include <vector>

namespace editor {

class TBlockHeights {
public:
    struct Entry {
        float height = 0;
        float width = 0;
        // False until the paragraph is laid out at the current width (height is a guess then).
        bool laid = false;
    };

    TBlockHeights();

    int Count() const { return count_; }
    // The sum of all heights.
    double Total() const { return total_; }
    // The widest entry (0 when there are none).
    double MaxWidth() const;
    // Entries not laid out.
    int Unlaid() const { return unlaid_; }

    const Entry& At(int index) const;
    void Set(int index, const Entry& entry);
    // The sum of the heights of the entries before index (0 <= index <= Count()).
    double Top(int index) const;
    // The entry whose span [top, top + height) holds y: the first one for y < 0 (or for every y when
    // all heights are 0 up to there), the last one for y at or beyond Total(); -1 when empty.
    int IndexAt(double y) const;
    // The first entry at or after from that is not laid out; -1 when there is none.
    int NextUnlaid(int from) const;

    // Replaces removeCount entries from index on by insertCount entries, each made by make(i)
    // for i = 0 .. insertCount-1.
    template <typename Make>
    void Replace(int index, int removeCount, int insertCount, Make&& make)
    {
        std::vector<Entry> fresh;
        fresh.reserve(std::size_t(insertCount));
        for (int i = 0; i < insertCount; ++i)
            fresh.push_back(make(i));
        Splice(index, removeCount, fresh);
    }
    void Splice(int index, int removeCount, const std::vector<Entry>& inserted);
    // Visits the entries from index from on, in order, while visit(index, entry) returns true;
    // visit may change the entry it is given (the sums follow).
    template <typename Visit>
    void Walk(int from, Visit&& visit)
    {
        if (from < 0 || from >= count_) return;
        std::size_t ci = 0;
        int o = 0;
        Locate(from, &ci, &o);
        int index = from;
        for (; ci < chunks_.size(); ++ci, o = 0) {
            Chunk& c = chunks_[ci];
            for (std::size_t i = std::size_t(o); i < c.entries.size(); ++i, ++index) {
                const Entry before = c.entries[i];
                const bool more = visit(index, c.entries[i]);
                Changed(c, before, c.entries[i]);
                if (!more) return;
            }
        }
    }
    // Marks every entry not laid out, keeping its height as the guess.
    void MarkAllUnlaid();
    void Clear();

    // Entries per chunk: a chunk splits above twice this and merges with a neighbour below a
    // quarter of it.
    static constexpr int kChunk = 512;

private:
    struct Chunk {
        std::vector<Entry> entries;
        double sum = 0;
        float maxWidth = 0;
        int unlaid = 0;
    };

    // The chunk that holds index and index's place in it; index == Count() gives the last chunk's
    // end.
    void Locate(int index, std::size_t* chunk, int* offset) const;
    void Recompute(Chunk& c);
    // Brings the sums up to date after an entry of c changed from before to after.
    void Changed(Chunk& c, const Entry& before, const Entry& after);
    void Rebalance(std::size_t first, std::size_t last);
    void RecomputeTotals();

    std::vector<Chunk> chunks_;
    int count_ = 0;
    double total_ = 0;
    int unlaid_ = 0;
    mutable double maxWidth_ = 0;
    mutable bool maxWidthStale_ = false;
};

}  // namespace editor
