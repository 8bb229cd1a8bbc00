// The operator log's lines, kept as UTF-8 text in large shared blocks with a
// small index per line that also holds the line's time. A shift's worth of
// frames (a million lines and more) costs little more than its text, and
// appending stays constant time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class TLogStore {
public:
    TLogStore() = default;
    TLogStore(const TLogStore&) = delete;
    TLogStore& operator=(const TLogStore&) = delete;

    // Adds a line of `utf8` text that is `chars` UTF-16 units long, appended
    // at `ms` (milliseconds since the epoch). Throws std::bad_alloc when the
    // system has no memory left.
    void Append(std::string_view utf8, std::size_t chars, std::int64_t ms);
    // Drops every line and returns the memory to the system.
    void Clear();

    std::size_t Lines() const { return lines_; }
    bool Empty() const { return lines_ == 0; }
    std::string_view Line(std::size_t i) const;
    // When line i was appended, in milliseconds since the epoch.
    std::int64_t Time(std::size_t i) const { return Entry(i).time; }
    // UTF-16 units of all lines before line i (separators not counted).
    std::uint64_t CharsBefore(std::size_t i) const;
    std::size_t LineChars(std::size_t i) const { return std::size_t(CharsBefore(i + 1) - CharsBefore(i)); }
    // UTF-16 units of all lines.
    std::uint64_t Chars() const { return chars_; }
    // Bytes of the lines' text alone.
    std::uint64_t TextBytes() const { return bytes_; }
    // Memory taken from the system for text and index.
    std::size_t BytesHeld() const;

    // The last line whose first character is at or before `offset`, counting
    // characters, `extra` more in front of each line, and one separator
    // between lines. Lines() must be non-zero.
    std::size_t LineAtOffset(std::uint64_t offset, std::size_t extra = 0) const;

private:
    // One anonymous mapping: memory given back to the system when freed,
    // and only what is written becomes resident.
    class TRegion {
    public:
        explicit TRegion(std::size_t bytes);
        ~TRegion();
        TRegion(const TRegion&) = delete;
        TRegion& operator=(const TRegion&) = delete;
        char* Data() const { return data_; }
        std::size_t Size() const { return size_; }

    private:
        char* data_ = nullptr;
        std::size_t size_ = 0;
    };
    struct TBlock {
        std::unique_ptr<TRegion> mem;
        std::size_t fill = 0;
    };
    struct TEntry {
        std::uint32_t block;
        std::uint32_t offset;
        std::uint64_t charsBefore;
        std::int64_t time;
    };
    static constexpr std::size_t cBlockBytes = std::size_t(1) << 20;
    static constexpr std::size_t cChunkEntries = 16384;

    const TEntry& Entry(std::size_t i) const
    {
        return reinterpret_cast<const TEntry*>(chunks_[i / cChunkEntries]->Data())[i % cChunkEntries];
    }

    std::vector<TBlock> blocks_;
    std::vector<std::unique_ptr<TRegion>> chunks_;
    std::size_t lines_ = 0;
    std::uint64_t chars_ = 0;
    std::uint64_t bytes_ = 0;
};
