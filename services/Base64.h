#pragma once

#include <stddef.h>

#include "services/WideString.h"

// The standard Base64 alphabet with "=" padding, as HTTP Basic
// authentication wants it. Replaces `out`; 0 when memory runs out.
int EncodeBase64(const void* data, size_t size, WideString& out);

// Decodes `text`, which must be canonical Base64: the standard alphabet,
// padded to a multiple of four characters, no blanks or line breaks, and
// unused bits of the last group zero, so that one value has exactly one
// spelling. Writes at most `capacity` bytes to `out` and their count to
// `size`; 0 for any other text or one that decodes to more than `capacity`.
int DecodeBase64(const wchar_t* text, unsigned char* out, size_t capacity, size_t* size);
