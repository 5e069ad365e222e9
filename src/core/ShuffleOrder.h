#pragma once

#include <cstdint>
#include <random>
#include <vector>

// The order in which a shuffled list plays: each pass plays every entry once, the entry that
// was current when the pass began first; the next pass (with Repeat) is drawn in advance, so
// that what follows the last entry is known before it ends, and it never begins with the entry
// that ends the pass before it (unless the list has only that one).
//
// Entries are indices into the play list. The order is told every entry that is played and
// every change of the list; Following and Preceding only read it.
class TShuffleOrder {
public:
    explicit TShuffleOrder(uint32_t start = std::random_device{}());

    // A new pass over `count` entries, beginning with `current`; none when count is 0.
    void Start(int32_t count, int32_t current);
    void Clear();
    bool Empty() const { return order_.empty(); }
    int32_t Count() const { return int32_t(order_.size()); }

    // The entry after the current one in this pass; past its end the first of the next pass
    // with `repeat` (-1 until Prepare has drawn it), else -1. `newPass` says which it was.
    int32_t Following(bool repeat, bool* newPass = nullptr) const;
    // The entry before the current one; before the first, the last of the pass with `repeat`,
    // else -1.
    int32_t Preceding(bool repeat) const;

    // Draws the next pass where Following needs it (the current entry is the pass's last and
    // `repeat` is on); true when it drew one.
    bool Prepare(bool repeat);

    // `index` is now the entry played: the following one (onward, into the next pass when it
    // begins there), the preceding one (back), or any other (it is played now; the entries
    // not played yet in this pass stay so).
    void Played(int32_t index, bool repeat);

    // The list changed: `newIndexOf[i]` is where entry i is now, -1 when it went; the list now
    // has `count` entries, those not named (new ones) are put among the entries still to come.
    // `current` is the entry now current (-1 when it went).
    void Remap(const std::vector<int32_t>& newIndexOf, int32_t count, int32_t current);

    const std::vector<int32_t>& Order() const { return order_; }
    int32_t Position() const { return position_; }

private:
    std::vector<int32_t> Draw(int32_t count, int32_t first, int32_t avoid);

    std::mt19937 rng_;
    std::vector<int32_t> order_; // this pass
    int32_t position_ = 0;       // of the current entry in order_
    std::vector<int32_t> next_;  // the next pass, once drawn
};
