#pragma once

#include <stddef.h>

// Owned, growable run of raw bytes (a response body kept as it came).
class ByteBuffer {
public:
    ByteBuffer() = default;
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    // Returns 0 when memory runs out; the bytes held so far stay.
    int Append(const void* data, size_t size);
    void Clear() { size_ = 0; }

    const unsigned char* Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    unsigned char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};
