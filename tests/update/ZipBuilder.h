#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// Archives made by the tests, honest or lying: every figure the central
// directory and the local header state can be set apart from the truth.
struct ZipMember {
    std::string name;
    std::string data;
    bool deflate = true;
    // Lies, applied to both headers unless stated; -1 keeps the truth.
    long long declaredSize = -1;
    long long declaredCompressed = -1;
    long long crc = -1;
    int method = -1;
    uint16_t flags = 0;
    bool utf8Name = false;
};

// Raw deflate (as ZIP stores it) of `data`.
std::string Deflate(const std::string& data);
uint32_t Crc32(const std::string& data);
// The whole archive: local headers and data, central directory, end record.
std::string BuildZip(const std::vector<ZipMember>& members, const std::string& comment = "");
