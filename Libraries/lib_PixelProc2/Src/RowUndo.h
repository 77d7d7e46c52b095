#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

// The samples of a row that a sweep changed, with their values before: what a band keeps
// so that its rows can be swept again from their originals.
using RowUndo = std::vector<std::pair<uint32_t, int16_t>>;

// Appends the samples where `now` differs from `before`. Few change: blocks that compare
// equal as memory are passed over whole.
inline void AppendRowChanges(const int16_t* now, const int16_t* before, size_t samples, RowUndo& undo)
{
    constexpr size_t kBlock = 64;
    for (size_t at = 0; at < samples; at += kBlock) {
        const size_t end = std::min(at + kBlock, samples);
        if (std::memcmp(now + at, before + at, (end - at) * sizeof(int16_t)) == 0)
            continue;
        for (size_t i = at; i < end; ++i)
            if (now[i] != before[i])
                undo.emplace_back(static_cast<uint32_t>(i), before[i]);
    }
}

// Puts the row back as it was before the changes.
inline void UndoRowChanges(int16_t* row, const RowUndo& undo)
{
    for (const auto& [i, value] : undo)
        row[i] = value;
}
