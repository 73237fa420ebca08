// Fixed-capacity, always terminated 8-bit text. Every write is bounded by the
// capacity; a write that does not fit reports so and leaves terminated text.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

template <std::size_t Capacity>
class BoundedText {
    static_assert(Capacity > 0);

  public:
    BoundedText() { data_[0] = '\0'; }

    static constexpr std::size_t capacity() { return Capacity; }
    const char* c_str() const { return data_; }
    char* data() { return data_; }
    std::size_t length() const { return length_; }
    bool empty() const { return length_ == 0; }

    void Clear() { Truncate(0); }

    // Cuts the text to length characters (no-op when already shorter).
    void Truncate(std::size_t length) {
        if (length < length_) {
            length_ = length;
            data_[length_] = '\0';
        }
    }

    // Replaces the text; false when it had to be cut to fit.
    bool Assign(const char* text) {
        Clear();
        return Append(text);
    }

    // Appends; false when the text had to be cut to fit.
    bool Append(const char* text) { return AppendBytes(text, std::strlen(text)); }

    bool AppendBytes(const char* bytes, std::size_t count) {
        std::size_t room = Capacity - 1 - length_;
        std::size_t take = count < room ? count : room;
        std::memcpy(data_ + length_, bytes, take);
        length_ += take;
        data_[length_] = '\0';
        return take == count;
    }

    // printf-style formatting; false when the result had to be cut to fit.
    bool Format(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        bool fits = FormatV(format, args);
        va_end(args);
        return fits;
    }

    bool FormatV(const char* format, va_list args) {
        int written = std::vsnprintf(data_, Capacity, format, args);
        if (written < 0) {
            // Some C runtimes signal truncation this way and may not terminate.
            data_[Capacity - 1] = '\0';
            length_ = std::strlen(data_);
            return false;
        }
        bool fits = static_cast<std::size_t>(written) < Capacity;
        length_ = fits ? static_cast<std::size_t>(written) : Capacity - 1;
        return fits;
    }

    // Takes size bytes of registry data as text ending at its first NUL or
    // at the end of the data; false when that text does not fit.
    bool AssignData(const unsigned char* bytes, std::size_t size) {
        const void* nul = std::memchr(bytes, 0, size);
        std::size_t count =
            nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - bytes) : size;
        Clear();
        return AppendBytes(reinterpret_cast<const char*>(bytes), count);
    }

  private:
    char data_[Capacity];
    std::size_t length_ = 0;
};
