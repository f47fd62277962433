#include "ZipBuilder.h"

#include <string.h>

#include <zlib.h>

namespace {

void Put16(std::string& out, uint32_t value)
{
    out += (char)(value & 0xFF);
    out += (char)((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void Put64(std::string& out, uint64_t value)
{
    Put32(out, (uint32_t)value);
    Put32(out, (uint32_t)(value >> 32));
}

const uint32_t Saturated = 0xFFFFFFFF;

} // namespace

std::string Deflate(const std::string& data)
{
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, (uLong)data.size()) + 16, '\0');
    stream.next_in = (Bytef*)data.data();
    stream.avail_in = (uInt)data.size();
    stream.next_out = (Bytef*)&out[0];
    stream.avail_out = (uInt)out.size();
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

uint32_t Crc32(const std::string& data)
{
    return (uint32_t)crc32(crc32(0L, Z_NULL, 0), (const Bytef*)data.data(), (uInt)data.size());
}

std::string BuildZip(const std::vector<ZipMember>& members, const std::string& comment, bool zip64)
{
    std::string body, directory;
    for (const ZipMember& member : members) {
        std::string stored = member.deflate ? Deflate(member.data) : member.data;
        uint32_t method = member.method >= 0 ? (uint32_t)member.method : member.deflate ? 8 : 0;
        uint32_t crc = member.crc >= 0 ? (uint32_t)member.crc : Crc32(member.data);
        uint64_t size = member.declaredSize >= 0 ? (uint64_t)member.declaredSize
                                                 : (uint64_t)member.data.size();
        uint64_t compressed = member.declaredCompressed >= 0 ? (uint64_t)member.declaredCompressed
                                                             : (uint64_t)stored.size();
        uint32_t flags = member.flags | (member.utf8Name ? 0x0800 : 0);
        uint64_t offset = body.size();
        // The local extra field holds both sizes; the central one each
        // saturated figure, in the format's order.
        std::string localExtra, centralExtra;
        if (zip64) {
            Put16(localExtra, 1);
            Put16(localExtra, 16);
            Put64(localExtra, size);
            Put64(localExtra, compressed);
            Put16(centralExtra, 1);
            Put16(centralExtra, 24);
            Put64(centralExtra, size);
            Put64(centralExtra, compressed);
            Put64(centralExtra, offset);
        }

        Put32(body, 0x04034B50);
        Put16(body, zip64 ? 45 : 20);
        Put16(body, flags);
        Put16(body, method);
        Put16(body, 0);
        Put16(body, 0x5021);
        Put32(body, crc);
        Put32(body, zip64 ? Saturated : (uint32_t)compressed);
        Put32(body, zip64 ? Saturated : (uint32_t)size);
        Put16(body, (uint32_t)member.name.size());
        Put16(body, (uint32_t)localExtra.size());
        body += member.name;
        body += localExtra;
        body += stored;

        Put32(directory, 0x02014B50);
        Put16(directory, zip64 ? 45 : 20);
        Put16(directory, zip64 ? 45 : 20);
        Put16(directory, flags);
        Put16(directory, method);
        Put16(directory, 0);
        Put16(directory, 0x5021);
        Put32(directory, crc);
        Put32(directory, zip64 ? Saturated : (uint32_t)compressed);
        Put32(directory, zip64 ? Saturated : (uint32_t)size);
        Put16(directory, (uint32_t)member.name.size());
        Put16(directory, (uint32_t)centralExtra.size());
        Put16(directory, 0);
        Put16(directory, 0);
        Put16(directory, 0);
        Put32(directory, 0);
        Put32(directory, zip64 ? Saturated : (uint32_t)offset);
        directory += member.name;
        directory += centralExtra;
    }
    std::string out = body + directory;
    if (zip64) {
        uint64_t record = out.size();
        Put32(out, 0x06064B50);
        Put64(out, 44);
        Put16(out, 45);
        Put16(out, 45);
        Put32(out, 0);
        Put32(out, 0);
        Put64(out, members.size());
        Put64(out, members.size());
        Put64(out, directory.size());
        Put64(out, body.size());
        Put32(out, 0x07064B50);
        Put32(out, 0);
        Put64(out, record);
        Put32(out, 1);
    }
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, zip64 ? 0xFFFF : (uint32_t)members.size());
    Put16(out, zip64 ? 0xFFFF : (uint32_t)members.size());
    Put32(out, zip64 ? Saturated : (uint32_t)directory.size());
    Put32(out, zip64 ? Saturated : (uint32_t)body.size());
    Put16(out, (uint32_t)comment.size());
    return out + comment;
}
