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
// With `zip64`, every size and offset goes into the ZIP64 records instead
// (the members' extra fields, the ZIP64 end record and its locator), their
// 32-bit fields saturated, as zip tools that always write ZIP64 do.
std::string BuildZip(const std::vector<ZipMember>& members, const std::string& comment = "",
                     bool zip64 = false);
