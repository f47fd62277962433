#include "services/ByteBuffer.h"

#include <stdlib.h>
#include <string.h>

ByteBuffer::~ByteBuffer()
{
    free(data_);
}

int ByteBuffer::Append(const void* data, size_t size)
{
    if (!size)
        return 1;
    if (!data || size > (size_t)-1 - size_)
        return 0;
    if (size_ + size > capacity_) {
        // Doubling keeps many small appends linear.
        size_t capacity = capacity_ ? capacity_ : 4096;
        while (capacity < size_ + size)
            capacity = capacity > (size_t)-1 / 2 ? size_ + size : capacity * 2;
        unsigned char* grown = (unsigned char*)realloc(data_, capacity);
        if (!grown)
            return 0;
        data_ = grown;
        capacity_ = capacity;
    }
    memcpy(data_ + size_, data, size);
    size_ += size;
    return 1;
}
