#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zyl::detail {

/// The bits of a number (not a NaN) as an unsigned number in the order of the numbers: a
/// negative number has all its bits flipped, a positive one only its sign. -0 and 0 differ.
inline std::uint64_t orderedBits(double x)
{
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t(1) << 63);
}

/// The number whose orderedBits() `key` is.
inline double fromOrderedBits(std::uint64_t key)
{
    const std::uint64_t bits = (key >> 63) != 0 ? key & ~(std::uint64_t(1) << 63) : ~key;
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

/// Sorts `items` by `key(item)` (64 bits), stably, `spare` holding as many between passes. A
/// population whose values all differ makes a comparison sort mispredict about every other
/// branch; a radix sort has none to mispredict, and a digit shared by every key costs no pass.
template <class Item, class Key>
void radixSort(std::vector<Item>& items, std::vector<Item>& spare, Key key)
{
    const std::size_t n = items.size();
    if (n < 2)
        return;
    std::array<std::array<std::size_t, 256>, 8> counts{};
    // Written out: the compiler keeps a loop over the eight digits, which then costs more
    // than the counting itself.
    for (const Item& item : items) {
        const std::uint64_t k = key(item);
        ++counts[0][k & 0xff];
        ++counts[1][(k >> 8) & 0xff];
        ++counts[2][(k >> 16) & 0xff];
        ++counts[3][(k >> 24) & 0xff];
        ++counts[4][(k >> 32) & 0xff];
        ++counts[5][(k >> 40) & 0xff];
        ++counts[6][(k >> 48) & 0xff];
        ++counts[7][k >> 56];
    }
    spare.resize(n);
    for (std::size_t digit = 0; digit < 8; ++digit) {
        std::array<std::size_t, 256>& count = counts[digit];
        if (count[(key(items[0]) >> (8 * digit)) & 0xff] == n)
            continue;
        std::size_t position = 0;
        for (std::size_t& c : count) {
            const std::size_t members = c;
            c = position;
            position += members;
        }
        for (const Item& item : items)
            spare[count[(key(item) >> (8 * digit)) & 0xff]++] = item;
        items.swap(spare);
    }
}

} // namespace zyl::detail
