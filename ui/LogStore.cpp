#include "LogStore.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {
std::size_t PageRounded(std::size_t bytes)
{
    static const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}
} // namespace

TLogStore::TRegion::TRegion(std::size_t bytes) : size_(PageRounded(bytes))
{
    void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    data_ = static_cast<char*>(p);
}

TLogStore::TRegion::~TRegion()
{
    munmap(data_, size_);
}

void TLogStore::Append(std::string_view utf8, std::size_t chars, std::int64_t ms)
{
    // A line never straddles two blocks; one longer than a block gets a
    // block of its own.
    if (blocks_.empty() || blocks_.back().mem->Size() - blocks_.back().fill < utf8.size()) {
        if (blocks_.size() >= std::numeric_limits<std::uint32_t>::max())
            throw std::bad_alloc();
        blocks_.push_back({std::make_unique<TRegion>(std::max(cBlockBytes, utf8.size())), 0});
    }
    if (lines_ % cChunkEntries == 0 && lines_ / cChunkEntries == chunks_.size())
        chunks_.push_back(std::make_unique<TRegion>(cChunkEntries * sizeof(TEntry)));
    TBlock& b = blocks_.back();
    if (!utf8.empty())
        std::memcpy(b.mem->Data() + b.fill, utf8.data(), utf8.size());
    auto* entries = reinterpret_cast<TEntry*>(chunks_[lines_ / cChunkEntries]->Data());
    new (&entries[lines_ % cChunkEntries]) TEntry{std::uint32_t(blocks_.size() - 1), std::uint32_t(b.fill), chars_, ms};
    b.fill += utf8.size();
    chars_ += chars;
    bytes_ += utf8.size();
    ++lines_;
}

void TLogStore::Clear()
{
    // Fresh vectors, so that their own capacity goes back too.
    std::vector<TBlock>().swap(blocks_);
    std::vector<std::unique_ptr<TRegion>>().swap(chunks_);
    lines_ = 0;
    chars_ = 0;
    bytes_ = 0;
}

std::string_view TLogStore::Line(std::size_t i) const
{
    const TEntry& e = Entry(i);
    const TBlock& b = blocks_[e.block];
    std::size_t end = b.fill;
    if (i + 1 < lines_) {
        const TEntry& next = Entry(i + 1);
        if (next.block == e.block)
            end = next.offset;
    }
    return {b.mem->Data() + e.offset, end - e.offset};
}

std::uint64_t TLogStore::CharsBefore(std::size_t i) const
{
    return i >= lines_ ? chars_ : Entry(i).charsBefore;
}

std::size_t TLogStore::BytesHeld() const
{
    std::size_t n = 0;
    for (const TBlock& b : blocks_)
        n += b.mem->Size();
    n += chunks_.size() * PageRounded(cChunkEntries * sizeof(TEntry));
    return n + blocks_.capacity() * sizeof(TBlock) + chunks_.capacity() * sizeof(chunks_[0]);
}

std::size_t TLogStore::LineAtOffset(std::uint64_t offset, std::size_t extra) const
{
    // Line i starts at CharsBefore(i) + i * (extra + 1): rising with i.
    std::size_t lo = 0, hi = lines_ - 1;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo + 1) / 2;
        if (Entry(mid).charsBefore + std::uint64_t(mid) * (extra + 1) <= offset)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}
