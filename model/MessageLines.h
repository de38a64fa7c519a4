// SPDX-License-Identifier: GPL-3.0-or-later
// A message as a list of lines, stored compactly: lines live in blocks of one
// contiguous buffer each, and a block can be shared between messages (an attachment
// encoded once for a whole run is the same block in every message). Lines that would
// cost much to hold for a whole run (one person's own attachment) can be deferred:
// produced only while the message is read, and dropped right after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// Whether the text holds a CR or an LF, in one pass over its bytes.
bool HoldsLineBreak(std::string_view text);

// Lines stored back to back in one buffer, without terminators. Each line is looked at
// once as it is stored, so whether any of them holds a CR or an LF (which must never
// reach the wire inside a line) is known without reading the block again.
class LineBlock {
public:
    LineBlock() { ends_.reserve(16); }
    void append(std::string_view line);
    // For lines made only of characters that cannot be line breaks (base64 text):
    // stored without looking at them.
    void appendWithoutBreaks(std::string_view line);
    bool holdsLineBreak() const { return lineBreak_; }
    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::string_view line(std::size_t i) const;
    // Bytes of text held (without terminators).
    std::size_t textBytes() const { return text_.size(); }
    void reserve(std::size_t bytes, std::size_t lines);

private:
    std::string text_;
    std::vector<std::uint32_t> ends_; // end offset of each line in text_
    bool lineBreak_ = false;          // some line holds a CR or an LF
};

using SharedBlock = std::shared_ptr<const LineBlock>;

// Lines produced on demand. Their number and their bytes are fixed when the message is
// built, so sizes and progress are right before anything is produced; producing them
// later must give exactly as many lines and bytes, or fail.
class DeferredLines {
public:
    DeferredLines(std::size_t lines, std::uint64_t textBytes)
        : lines_(lines), textBytes_(textBytes) {}
    virtual ~DeferredLines() = default;
    DeferredLines(const DeferredLines&) = delete;
    DeferredLines& operator=(const DeferredLines&) = delete;

    std::size_t size() const { return lines_; }
    std::uint64_t textBytes() const { return textBytes_; }

    // Why the lines could not be produced now as counted (a file gone or changed), or
    // nothing. Cheap: nothing is read.
    virtual std::optional<std::string> problem() const = 0;

    // Hands out the lines in consecutive blocks.
    class Reader {
    public:
        virtual ~Reader() = default;
        // The next block; null after the last. Throws std::runtime_error with a text
        // for the user when the lines cannot be produced.
        virtual SharedBlock next() = 0;
    };
    virtual std::unique_ptr<Reader> open() const = 0;

private:
    std::size_t lines_;
    std::uint64_t textBytes_;
};

using DeferredPtr = std::shared_ptr<const DeferredLines>;

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
    // Appends lines that are produced only when they are read.
    void appendDeferred(DeferredPtr lines);

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // Bytes of all lines, without their terminators (deferred ones as counted).
    std::uint64_t textBytes() const { return bytes_; }
    // A deferred line is produced with the rest of its lines and stays valid until the
    // next call for a line in another deferred part.
    std::string_view line(std::size_t i) const;
    std::vector<std::string> toVector() const;

    // Why the deferred lines could not be sent now (a person's file gone or changed
    // since the message was built), or nothing. Nothing is read.
    std::optional<std::string> checkDeferred() const;
    std::size_t deferredParts() const { return deferred_; }

    // Visits the lines in order, cheaply (no index search per line). Deferred lines
    // are produced for the visit; if that fails they are visited as empty lines (the
    // count stays right) and the problem is returned.
    template <class F> std::optional<std::string> forEach(F&& f) const {
        Cursor c = cursor();
        while (!c.atEnd())
            f(c.next());
        return c.failure();
    }

    // Sequential reader for delivery: keeps its place, so reading line after line
    // costs nothing per line. A deferred part is produced block by block as the
    // reader reaches it, and each block is dropped when the reader moves past it; a
    // returned line stays valid until the next call of next().
    class Cursor {
    public:
        explicit Cursor(const MessageLines* m = nullptr) : m_(m) {}
        bool atEnd() const;
        std::string_view next();
        std::size_t index() const { return index_; }
        // Set when a deferred part could not be produced as counted: its lines were
        // read as empty lines, so this message must not be completed.
        const std::optional<std::string>& failure() const { return failure_; }

    private:
        void advance();
        void fail(std::string why);

        const MessageLines* m_;
        std::size_t piece_ = 0;   // next piece to enter
        std::size_t inBlock_ = 0; // next line within current_
        std::size_t index_ = 0;
        SharedBlock current_;
        std::unique_ptr<DeferredLines::Reader> reader_;
        std::size_t deferredLeft_ = 0; // lines of the current deferred part still to come
        std::uint64_t deferredBytes_ = 0;
        DeferredPtr deferredPart_;
        std::optional<std::string> failure_;
    };
    Cursor cursor() const { return Cursor(this); }

    // The stored blocks, in order (deferred parts are not among them).
    const std::vector<SharedBlock>& blocks() const { return blocks_; }

private:
    // One piece of the message: a stored block or a deferred part.
    struct Piece {
        SharedBlock block;
        DeferredPtr deferred;
        std::size_t first = 0; // index of its first line
        std::size_t size() const { return block ? block->size() : deferred->size(); }
    };
    void addPiece(Piece piece);

    std::vector<Piece> pieces_;
    std::vector<SharedBlock> blocks_;
    std::shared_ptr<LineBlock> own_; // last block when it is our own and still growing
    std::size_t count_ = 0;
    std::uint64_t bytes_ = 0;
    std::size_t deferred_ = 0;
    // The deferred part last produced for line().
    mutable std::size_t producedPiece_ = 0;
    mutable SharedBlock produced_;
};

} // namespace tandrel
