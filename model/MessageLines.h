// A message as a list of lines, stored compactly: lines live in blocks of one
// contiguous buffer each, and a block can be shared between messages (an attachment
// encoded once for a whole run is the same block in every message).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// Lines stored back to back in one buffer, without terminators.
class LineBlock {
public:
    LineBlock() { ends_.reserve(16); }
    void append(std::string_view line);
    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::string_view line(std::size_t i) const;
    // Bytes of text held (without terminators).
    std::size_t textBytes() const { return text_.size(); }
    void reserve(std::size_t bytes, std::size_t lines);

private:
    std::string text_;
    std::vector<std::uint32_t> ends_; // end offset of each line in text_
};

using SharedBlock = std::shared_ptr<const LineBlock>;

class MessageLines {
public:
    MessageLines() = default;
    // From plain lines (copied into one block of its own).
    explicit MessageLines(const std::vector<std::string>& lines);
    // A copy shares every block with the original but never grows one of them: its
    // next append starts a block of its own.
    MessageLines(const MessageLines& other);
    MessageLines& operator=(const MessageLines& other);
    MessageLines(MessageLines&&) noexcept = default;
    MessageLines& operator=(MessageLines&&) noexcept = default;

    // Appends one line to the message's own last block (a new block when the last
    // one is shared).
    void append(std::string_view line);
    // Appends a whole block without copying it.
    void appendShared(SharedBlock block);

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::string_view line(std::size_t i) const;
    std::vector<std::string> toVector() const;

    // Visits the lines in order, cheaply (no index search per line).
    template <class F> void forEach(F&& f) const {
        for (const auto& b : blocks_)
            for (std::size_t i = 0; i < b->size(); ++i)
                f(b->line(i));
    }

    // Sequential reader for delivery: keeps its place, so reading line after line
    // costs nothing per line.
    class Cursor {
    public:
        explicit Cursor(const MessageLines* m = nullptr) : m_(m) {}
        bool atEnd() const;
        std::string_view next();
        std::size_t index() const { return index_; }

    private:
        const MessageLines* m_;
        std::size_t block_ = 0;
        std::size_t inBlock_ = 0;
        std::size_t index_ = 0;
    };
    Cursor cursor() const { return Cursor(this); }

    const std::vector<SharedBlock>& blocks() const { return blocks_; }

private:
    std::vector<SharedBlock> blocks_;
    std::vector<std::size_t> firsts_; // index of the first line of each block
    std::shared_ptr<LineBlock> own_;  // last block when it is our own and still growing
    std::size_t count_ = 0;
};

} // namespace tandrel
