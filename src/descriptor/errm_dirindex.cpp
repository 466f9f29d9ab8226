// errm_dirindex.cpp - finding a message number in a descriptor's directory:
// the binary search and the bucket index built at load.
#include "descriptor/errm_desc.h"

#include <cstdint>

int errm_FindDirectoryEntry(const errm_DirRecord *directory, int number, int count) {
    if (count < 1) return -1;
    int low = 1, high = count;
    while (low <= high) {
        int middle = low + (high - low) / 2;
        int found = directory[middle - 1].number;
        if (found == number) return middle - 1;
        if (found > number)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return -1;
}

namespace {

// Below this many records a binary search of the directory is as quick.
constexpr int kIndexMinRecords = 16;

// The smallest shift that makes at most `buckets` buckets of the numbers
// first..last.
int bucketShift(std::int32_t first, std::int32_t last, std::uint64_t buckets) {
    std::uint64_t range = static_cast<std::uint64_t>(static_cast<std::int64_t>(last) - first);
    int shift = 0;
    while ((range >> shift) + 1 > buckets)
        ++shift;
    return shift;
}

} // namespace

std::size_t errm_NumberIndexWords(const errm_DirRecord *directory, int count) {
    if (count < kIndexMinRecords) return 0;
    std::int32_t first = directory[0].number, last = directory[count - 1].number;
    if (last <= first) return 0;
    // About two records a bucket: an index of half a word per message.
    int shift = bucketShift(first, last, static_cast<std::uint64_t>(count) / 2);
    std::uint64_t range = static_cast<std::uint64_t>(static_cast<std::int64_t>(last) - first);
    return static_cast<std::size_t>((range >> shift) + 2);
}

errm_NumberIndex errm_BuildNumberIndex(const errm_DirRecord *directory, int count,
                                       std::uint32_t *storage, std::size_t words) {
    errm_NumberIndex none{nullptr, 0, 0, 0, 0};
    if (storage == nullptr || words < 2 || count < 1) return none;
    std::int32_t first = directory[0].number;
    std::uint32_t buckets = static_cast<std::uint32_t>(words - 1);
    int shift = bucketShift(first, directory[count - 1].number, buckets);
    // count <= range + 1 on a strictly ascending directory: step <= 2^32,
    // and a distance below 2^32 times it fits 64 bits.
    std::uint64_t range = static_cast<std::uint64_t>(
        static_cast<std::int64_t>(directory[count - 1].number) - first);
    std::uint64_t step = (static_cast<std::uint64_t>(count) << 32) / (range + 1);
    std::uint32_t b = 0;
    for (int i = 0; i < count; ++i) {
        std::int32_t n = directory[i].number;
        if (i > 0 && n <= directory[i - 1].number) return none;
        std::uint64_t key = static_cast<std::uint64_t>(static_cast<std::int64_t>(n) - first) >> shift;
        if (key >= buckets) return none;
        while (b <= key)
            storage[b++] = static_cast<std::uint32_t>(i);
    }
    while (b <= buckets)
        storage[b++] = static_cast<std::uint32_t>(count);
    return errm_NumberIndex{storage, buckets, shift, first, step};
}

namespace {

// The guess for a number at distance (below 2^32) from the first, count > 0.
inline std::uint32_t guessAt(const errm_NumberIndex &index, std::uint32_t count,
                             std::uint64_t distance) {
    std::uint32_t guess = static_cast<std::uint32_t>((distance * index.step) >> 32);
    return guess < count ? guess : count - 1;
}

} // namespace

#ifdef ERRM_TESTING
std::uint32_t errm_GuessPosition(const errm_NumberIndex &index, int count, int number) {
    if (count < 1 || number <= index.first) return 0;
    return guessAt(index, static_cast<std::uint32_t>(count),
                   static_cast<std::uint64_t>(static_cast<std::int64_t>(number) - index.first));
}
#endif

int errm_FindNumber(const errm_DirRecord *directory, int count, const errm_NumberIndex &index,
                    int number) {
    if (index.buckets == nullptr) return errm_FindDirectoryEntry(directory, number, count);
    if (number < index.first) return -1;
    std::uint64_t distance =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(number) - index.first);
    std::uint64_t key = distance >> index.shift;
    if (key >= index.count) return -1;
    // The record at the guessed position is asked for before the bucket is
    // read: on a large catalogue both are cache misses, and they overlap.
    __builtin_prefetch(&directory[guessAt(index, static_cast<std::uint32_t>(count), distance)]);
    int low = static_cast<int>(index.buckets[key]);
    int found = errm_FindDirectoryEntry(directory + low, number,
                                        static_cast<int>(index.buckets[key + 1]) - low);
    return found < 0 ? -1 : low + found;
}
