// The block storage behind MessageLines.
#include "MessageLines.h"

#include <algorithm>
#include <stdexcept>

namespace tandrel {

void LineBlock::append(std::string_view line) {
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
        firsts_.push_back(0);
        blocks_.push_back(block);
        own_ = block;
        count_ = block->size();
    }
}

MessageLines::MessageLines(const MessageLines& other)
    : blocks_(other.blocks_), firsts_(other.firsts_), count_(other.count_) {}

MessageLines& MessageLines::operator=(const MessageLines& other) {
    if (this != &other) {
        blocks_ = other.blocks_;
        firsts_ = other.firsts_;
        own_.reset();
        count_ = other.count_;
    }
    return *this;
}

void MessageLines::append(std::string_view line) {
    // Our last block may grow only while no copy of this message holds it too
    // (one reference in blocks_, one in own_).
    if (own_ && own_.use_count() != 2) own_.reset();
    if (!own_) {
        own_ = std::make_shared<LineBlock>();
        firsts_.push_back(count_);
        blocks_.push_back(own_);
    }
    own_->append(line);
    ++count_;
}

void MessageLines::appendShared(SharedBlock block) {
    if (!block || block->empty()) return;
    firsts_.push_back(count_);
    count_ += block->size();
    blocks_.push_back(std::move(block));
    own_.reset();
}

std::string_view MessageLines::line(std::size_t i) const {
    if (i >= count_) throw std::out_of_range("message line index");
    auto it = std::upper_bound(firsts_.begin(), firsts_.end(), i);
    const std::size_t b = static_cast<std::size_t>(it - firsts_.begin()) - 1;
    return blocks_[b]->line(i - firsts_[b]);
}

std::vector<std::string> MessageLines::toVector() const {
    std::vector<std::string> out;
    out.reserve(count_);
    forEach([&](std::string_view l) { out.emplace_back(l); });
    return out;
}

bool MessageLines::Cursor::atEnd() const {
    return !m_ || index_ >= m_->count_;
}

std::string_view MessageLines::Cursor::next() {
    while (inBlock_ >= m_->blocks_[block_]->size()) {
        ++block_;
        inBlock_ = 0;
    }
    ++index_;
    return m_->blocks_[block_]->line(inBlock_++);
}

} // namespace tandrel
