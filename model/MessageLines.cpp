// SPDX-License-Identifier: GPL-3.0-or-later
// The block storage behind MessageLines.
#include "model/MessageLines.h"

#include <algorithm>
#include <stdexcept>

namespace tandrel {

bool HoldsLineBreak(std::string_view text) {
    // The bytes are combined without a branch per byte, so the compiler can test many
    // at once; the loop leaves early only between chunks.
    constexpr std::size_t kChunk = 64;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    for (; i + kChunk <= n; i += kChunk) {
        unsigned found = 0;
        for (std::size_t j = 0; j < kChunk; ++j)
            found |= static_cast<unsigned>(p[i + j] == '\r') | (p[i + j] == '\n');
        if (found) return true;
    }
    unsigned found = 0;
    for (; i < n; ++i)
        found |= static_cast<unsigned>(p[i] == '\r') | (p[i] == '\n');
    return found != 0;
}

void LineBlock::append(std::string_view line) {
    if (!lineBreak_ && HoldsLineBreak(line)) lineBreak_ = true;
    appendWithoutBreaks(line);
}

void LineBlock::appendWithoutBreaks(std::string_view line) {
    text_.append(line);
    if (text_.size() > UINT32_MAX) throw std::length_error("line block too large");
    ends_.push_back(static_cast<std::uint32_t>(text_.size()));
}

std::string_view LineBlock::line(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
}

void LineBlock::reserve(std::size_t bytes, std::size_t lines) {
    text_.reserve(bytes);
    ends_.reserve(lines);
}

MessageLines::MessageLines(const std::vector<std::string>& lines) {
    auto block = std::make_shared<LineBlock>();
    std::size_t bytes = 0;
    for (const auto& l : lines)
        bytes += l.size();
    block->reserve(bytes, lines.size());
    for (const auto& l : lines)
        block->append(l);
    if (!block->empty()) {
        addPiece({block, nullptr});
        own_ = block;
    }
}

MessageLines::MessageLines(const MessageLines& other)
    : pieces_(other.pieces_), blocks_(other.blocks_), count_(other.count_), bytes_(other.bytes_),
      deferred_(other.deferred_) {}

MessageLines& MessageLines::operator=(const MessageLines& other) {
    if (this != &other) {
        pieces_ = other.pieces_;
        blocks_ = other.blocks_;
        own_.reset();
        count_ = other.count_;
        bytes_ = other.bytes_;
        deferred_ = other.deferred_;
        produced_.reset();
    }
    return *this;
}

void MessageLines::addPiece(Piece piece) {
    piece.first = count_;
    count_ += piece.size();
    if (piece.block) {
        bytes_ += piece.block->textBytes();
        blocks_.push_back(piece.block);
    } else {
        bytes_ += piece.deferred->textBytes();
        ++deferred_;
    }
    pieces_.push_back(std::move(piece));
    own_.reset();
}

void MessageLines::append(std::string_view line) {
    // Our last block may grow only while no copy of this message holds it too
    // (one reference in pieces_, one in blocks_, one in own_).
    if (own_ && own_.use_count() != 3) own_.reset();
    if (!own_) {
        auto block = std::make_shared<LineBlock>();
        addPiece({block, nullptr});
        own_ = std::move(block);
    }
    own_->append(line);
    ++count_;
    bytes_ += line.size();
}

void MessageLines::appendShared(SharedBlock block) {
    if (!block || block->empty()) return;
    addPiece({std::move(block), nullptr});
}

void MessageLines::appendDeferred(DeferredPtr lines) {
    if (!lines || lines->size() == 0) return;
    addPiece({nullptr, std::move(lines)});
}

std::string_view MessageLines::line(std::size_t i) const {
    if (i >= count_) throw std::out_of_range("message line index");
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), i,
                               [](std::size_t v, const Piece& p) { return v < p.first; });
    const std::size_t k = static_cast<std::size_t>(it - pieces_.begin()) - 1;
    const Piece& p = pieces_[k];
    if (p.block) return p.block->line(i - p.first);
    if (!produced_ || producedPiece_ != k) {
        produced_.reset();
        auto whole = std::make_shared<LineBlock>();
        MessageLines single;
        single.appendDeferred(p.deferred);
        single.forEach([&](std::string_view l) { whole->append(l); });
        produced_ = std::move(whole);
        producedPiece_ = k;
    }
    return produced_->line(i - p.first);
}

std::vector<std::string> MessageLines::toVector() const {
    std::vector<std::string> out;
    out.reserve(count_);
    forEach([&](std::string_view l) { out.emplace_back(l); });
    return out;
}

std::optional<std::string> MessageLines::checkDeferred() const {
    if (deferred_ == 0) return std::nullopt;
    for (const Piece& p : pieces_)
        if (p.deferred)
            if (auto problem = p.deferred->problem()) return problem;
    return std::nullopt;
}

bool MessageLines::Cursor::atEnd() const {
    return !m_ || index_ >= m_->count_;
}

std::string_view MessageLines::Cursor::next() {
    while (!current_ || inBlock_ >= current_->size())
        advance();
    ++index_;
    return current_->line(inBlock_++);
}

void MessageLines::Cursor::fail(std::string why) {
    if (!failure_) failure_ = std::move(why);
    reader_.reset();
    // The rest of the part as empty lines, so the count the caller relies on holds.
    auto blanks = std::make_shared<LineBlock>();
    blanks->reserve(0, deferredLeft_);
    for (std::size_t i = 0; i < deferredLeft_; ++i)
        blanks->append({});
    deferredLeft_ = 0;
    current_ = std::move(blanks);
    inBlock_ = 0;
}

void MessageLines::Cursor::advance() {
    inBlock_ = 0;
    if (reader_) {
        SharedBlock block;
        try {
            block = reader_->next();
        } catch (const std::exception& e) {
            fail(e.what());
            return;
        }
        const std::size_t lines = block ? block->size() : 0;
        if (lines == 0 || lines > deferredLeft_) {
            fail("An attachment file changed while it was being sent");
            return;
        }
        if (block->holdsLineBreak()) {
            fail("A line of an attachment holds a line break");
            return;
        }
        deferredLeft_ -= lines;
        deferredBytes_ += block->textBytes();
        current_ = std::move(block);
        if (deferredLeft_ == 0) {
            reader_.reset();
            if (deferredBytes_ != deferredPart_->textBytes() && !failure_)
                failure_ = "An attachment file changed while it was being sent";
        }
        return;
    }
    current_.reset();
    const Piece& p = m_->pieces_.at(piece_++);
    if (p.block) {
        current_ = p.block;
        return;
    }
    deferredPart_ = p.deferred;
    deferredLeft_ = p.deferred->size();
    deferredBytes_ = 0;
    try {
        reader_ = p.deferred->open();
    } catch (const std::exception& e) {
        fail(e.what());
        return;
    }
    if (!reader_) fail("An attachment file cannot be read");
}

} // namespace tandrel
