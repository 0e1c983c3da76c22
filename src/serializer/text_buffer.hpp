// The growing character buffer that JSON output and text forms are written into: raw writes
// after one capacity check, no terminator, no zero-filling.
//
// A buffer made for bytes keeps its characters in a bytes object from the start, and hands that
// object over at the end: the output (hundreds of kilobytes for a large dump) is never copied.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "frame/ref.hpp"

namespace sorvel::serializer {

class TextBuffer {
  public:
    TextBuffer() = default;
    struct ForBytes {};
    explicit TextBuffer(ForBytes) : for_bytes_(true) {}
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    ~TextBuffer() {
        if (!for_bytes_) std::free(data_);
    }

    // A buffer made for bytes: the text as a bytes object; the buffer is left empty.
    frame::Ref take_bytes();

    // Room for `count` more characters; the write position.
    char* room(size_t count) {
        if (capacity_ - size_ < count) grow(count);
        return data_ + size_;
    }
    // Ends what was written at `end` (inside the room asked for).
    void commit(char* end) { size_ = size_t(end - data_); }

    void push(char c) {
        *room(1) = c;
        ++size_;
    }
    void append(const char* text, size_t count) {
        std::memcpy(room(count), text, count);
        size_ += count;
    }
    void append(std::string_view text) { append(text.data(), text.size()); }

    void reserve(size_t capacity) {
        if (capacity > capacity_) grow(capacity - size_);
    }
    void clear() { size_ = 0; }
    void resize(size_t size) { size_ = size; }  // shrinking only
    size_t size() const { return size_; }
    const char* data() const { return data_; }
    std::string_view view() const { return {data_, size_}; }

  private:
    void grow(size_t count);

    bool for_bytes_ = false;
    frame::Ref bytes_;  // a buffer made for bytes: the object data_ points into
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace sorvel::serializer
