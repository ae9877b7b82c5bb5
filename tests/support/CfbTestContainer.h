#pragma once
// Builds small version 3 compound files in memory for the xls reader's tests.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vellumcast::testing {

constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kFatSector = 0xFFFFFFFD;

inline void Put16(std::string& s, size_t at, uint16_t v)
{
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}

inline void Put32(std::string& s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A version 3 container with one stream. Sector 0 holds the allocation table, sector 1
// the directory. A stream of 4096 bytes or more fills sectors 2 onwards; a smaller one
// lives in the mini stream: sector 2 is the mini allocation table, sectors 3 onwards the
// mini stream. Offsets of the parts are kept so that tests can damage them.
struct Container {
    std::string bytes;
    static size_t FatEntry(uint32_t sector) { return 512 + 4 * size_t { sector }; }
    static size_t DirectoryEntry(uint32_t index) { return 2 * 512 + 128 * size_t { index }; }
    static size_t MiniFatEntry(uint32_t sector) { return 3 * 512 + 4 * size_t { sector }; }
};

// sectorSize 4096 makes a version 4 container; the offsets in Container are those of version 3.
inline Container MakeContainer(const std::string& streamName, const std::string& content, uint32_t sectorSize = 512)
{
    const size_t S = sectorSize;
    const bool mini = content.size() < 4096;
    std::string s(S * 3, '\0');
    const uint8_t signature[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
    std::memcpy(s.data(), signature, 8);
    Put16(s, 24, 0x3E);
    Put16(s, 26, S == 4096 ? 4 : 3);
    Put16(s, 28, 0xFFFE);
    Put16(s, 30, S == 4096 ? 12 : 9);
    Put16(s, 32, 6);
    Put32(s, 44, 1); // one FAT sector
    Put32(s, 48, 1); // directory in sector 1
    Put32(s, 56, 4096);
    Put32(s, 60, mini ? 2 : kEnd);
    Put32(s, 64, mini ? 1 : 0);
    Put32(s, 68, kEnd);
    for (int i = 0; i < 109; ++i)
        Put32(s, 76 + 4 * static_cast<size_t>(i), i == 0 ? 0 : kFree);

    std::vector<uint32_t> fat(S / 4, kFree);
    fat[0] = kFatSector;
    fat[1] = kEnd;
    uint32_t next = 2;
    uint32_t streamStart = 0;
    uint32_t rootStart = kEnd;
    uint32_t rootSize = 0;
    std::string body;
    if (mini) {
        fat[next++] = kEnd; // the mini allocation table
        std::string miniFat(S, '\xFF');
        const uint32_t miniSectors = static_cast<uint32_t>((content.size() + 63) / 64);
        for (uint32_t i = 0; i < miniSectors; ++i)
            Put32(miniFat, 4 * size_t { i }, i + 1 < miniSectors ? i + 1 : kEnd);
        std::string miniStream = content;
        miniStream.resize(size_t { miniSectors } * 64, '\0');
        rootSize = static_cast<uint32_t>(miniStream.size());
        miniStream.resize((miniStream.size() + S - 1) / S * S, '\0');
        rootStart = next;
        const uint32_t count = static_cast<uint32_t>(miniStream.size() / S);
        for (uint32_t i = 0; i < count; ++i, ++next)
            fat[next] = i + 1 < count ? next + 1 : kEnd;
        body = miniFat + miniStream;
    } else {
        streamStart = next;
        std::string data = content;
        data.resize((data.size() + S - 1) / S * S, '\0');
        const uint32_t count = static_cast<uint32_t>(data.size() / S);
        for (uint32_t i = 0; i < count; ++i, ++next)
            fat[next] = i + 1 < count ? next + 1 : kEnd;
        body = data;
    }
    for (size_t i = 0; i < fat.size(); ++i)
        Put32(s, S + 4 * i, fat[i]);

    auto entry
        = [&](uint32_t index, const std::string& name, uint8_t type, uint32_t child, uint32_t start, uint32_t size) {
              const size_t at = 2 * S + 128 * size_t { index };
              for (size_t i = 0; i < name.size(); ++i)
                  Put16(s, at + 2 * i, static_cast<uint8_t>(name[i]));
              Put16(s, at + 64, static_cast<uint16_t>(2 * (name.size() + 1)));
              s[at + 66] = static_cast<char>(type);
              s[at + 67] = 1;
              Put32(s, at + 68, kFree);
              Put32(s, at + 72, kFree);
              Put32(s, at + 76, child);
              Put32(s, at + 116, start);
              Put32(s, at + 120, size);
          };
    entry(0, "Root Entry", 5, 1, rootStart, rootSize);
    entry(1, streamName, 2, kFree, streamStart, static_cast<uint32_t>(content.size()));
    for (uint32_t i = 2; i < 4; ++i) {
        Put32(s, 2 * S + 128 * size_t { i } + 68, kFree);
        Put32(s, 2 * S + 128 * size_t { i } + 72, kFree);
        Put32(s, 2 * S + 128 * size_t { i } + 76, kFree);
    }
    return { s + body };
}

} // namespace vellumcast::testing
