#include "core/ShuffleOrder.h"

#include <algorithm>
#include <utility>

TShuffleOrder::TShuffleOrder(uint32_t start) : rng_(start) {}

std::vector<int32_t> TShuffleOrder::Draw(int32_t count, int32_t first, int32_t avoid) {
    std::vector<int32_t> order(size_t(std::max(count, 0)));
    if (order.empty())
        return order;
    const bool fixed = first >= 0 && first < count;
    // the first entry in front, the others after it in any order
    size_t at = 0;
    if (fixed)
        order[at++] = first;
    for (int32_t i = 0; i < count; ++i)
        if (!fixed || i != first)
            order[at++] = i;
    std::shuffle(order.begin() + (fixed ? 1 : 0), order.end(), rng_);
    if (avoid >= 0 && count > 1 && order.front() == avoid) {
        // any other entry may begin the pass, with equal chances
        std::uniform_int_distribution<size_t> pick(1, order.size() - 1);
        std::swap(order.front(), order[pick(rng_)]);
    }
    return order;
}

void TShuffleOrder::Start(int32_t count, int32_t current) {
    next_.clear();
    position_ = 0;
    order_ =
        count > 0 ? Draw(count, std::clamp(current, 0, count - 1), -1) : std::vector<int32_t>();
}

void TShuffleOrder::Clear() {
    order_.clear();
    next_.clear();
    position_ = 0;
}

int32_t TShuffleOrder::Following(bool repeat, bool* newPass) const {
    if (newPass != nullptr)
        *newPass = false;
    if (order_.empty())
        return -1;
    if (position_ + 1 < Count())
        return order_[size_t(position_ + 1)];
    if (!repeat || next_.empty())
        return -1;
    if (newPass != nullptr)
        *newPass = true;
    return next_.front();
}

int32_t TShuffleOrder::Preceding(bool repeat) const {
    if (order_.empty())
        return -1;
    if (position_ > 0)
        return order_[size_t(position_ - 1)];
    return repeat ? order_.back() : -1;
}

bool TShuffleOrder::Prepare(bool repeat) {
    if (!repeat || order_.empty() || position_ + 1 < Count() || !next_.empty())
        return false;
    next_ = Draw(Count(), -1, order_.back());
    return true;
}

void TShuffleOrder::Played(int32_t index, bool repeat) {
    if (order_.empty() || index < 0 || index >= Count())
        return;
    if (order_[size_t(position_)] == index)
        return;
    bool newPass = false;
    if (Following(repeat, &newPass) == index) {
        if (newPass) {
            order_ = std::exchange(next_, {});
            position_ = 0;
        } else {
            ++position_;
        }
        return;
    }
    if (Preceding(repeat) == index) {
        position_ = position_ > 0 ? position_ - 1 : Count() - 1;
        next_.clear();
        return;
    }
    // A jump: the entry is played now, after those played so far.
    next_.clear();
    const auto at = std::find(order_.begin(), order_.end(), index);
    const auto from = int32_t(at - order_.begin());
    order_.erase(at);
    if (from <= position_) {
        // played before in this pass: it moves up to now
        order_.insert(order_.begin() + position_, index);
    } else {
        ++position_;
        order_.insert(order_.begin() + position_, index);
    }
}

void TShuffleOrder::Remap(const std::vector<int32_t>& newIndexOf, int32_t count, int32_t current) {
    next_.clear();
    if (order_.empty() || count <= 0) {
        Clear();
        return;
    }
    std::vector<int32_t> played;
    std::vector<int32_t> coming;
    std::vector<bool> named(size_t(count), false);
    for (int32_t p = 0; p < Count(); ++p) {
        const int32_t old = order_[size_t(p)];
        const int32_t now =
            old >= 0 && size_t(old) < newIndexOf.size() ? newIndexOf[size_t(old)] : -1;
        if (now < 0 || now >= count || named[size_t(now)])
            continue;
        named[size_t(now)] = true;
        (p <= position_ ? played : coming).push_back(now);
    }
    // new entries come at random places among those still to come
    for (int32_t i = 0; i < count; ++i) {
        if (named[size_t(i)])
            continue;
        std::uniform_int_distribution<size_t> place(0, coming.size());
        coming.insert(coming.begin() + std::ptrdiff_t(place(rng_)), i);
    }
    if (current >= 0 && current < count) {
        // the current entry ends the played part, wherever it is now
        played.erase(std::remove(played.begin(), played.end(), current), played.end());
        coming.erase(std::remove(coming.begin(), coming.end(), current), coming.end());
        played.push_back(current);
    } else if (played.empty() && !coming.empty()) {
        played.push_back(coming.front());
        coming.erase(coming.begin());
    }
    position_ = int32_t(played.size()) - 1;
    order_ = std::move(played);
    order_.insert(order_.end(), coming.begin(), coming.end());
}
