#pragma once

#include <stddef.h>

#include "services/WideString.h"

// The standard Base64 alphabet with "=" padding, as HTTP Basic
// authentication wants it. Replaces `out`; 0 when memory runs out.
int EncodeBase64(const void* data, size_t size, WideString& out);
