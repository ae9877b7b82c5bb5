#pragma once
// What the part targets share: each puts arbitrary bytes in place of one member of a sound
// package and reads the package with one reader. The member is named by the executable's
// name (fuzz_xlsb_styles replaces xl/styles.bin), so one source builds a target per part.

#include "FuzzWalk.h"
#include "support/XlsxWriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vellumcast::fuzz {

using PackageMembers = std::vector<std::pair<std::string, std::string>>;

struct PartTarget {
    const char* program; // the end of the executable's name
    const char* member; // the package member it replaces
};

// The member the running executable replaces; exits when its name names none.
inline std::string MemberNamedBy(const std::string& program, std::span<const PartTarget> targets, const char* format)
{
    for (const PartTarget& target : targets) {
        const std::string suffix = target.program;
        if (program.size() >= suffix.size()
            && program.compare(program.size() - suffix.size(), suffix.size(), suffix) == 0)
            return target.member;
    }
    std::fprintf(stderr, "%s: the program name names no %s part\n", program.c_str(), format);
    std::exit(2);
}

// Run with VELLUMCAST_FUZZ_SEED_DIR set, writes the sound member there as a seed and exits.
inline void WriteSeedIfAsked(const PackageMembers& members, const std::string& member)
{
    const char* seeds = std::getenv("VELLUMCAST_FUZZ_SEED_DIR");
    if (!seeds)
        return;
    for (const auto& [name, content] : members) {
        if (name == member)
            std::ofstream(std::string(seeds) + "/sound", std::ios::binary) << content;
    }
    std::exit(0);
}

// The package with data in place of member, read with one reader, every cell.
template <typename OpenReader>
void ReadWithMemberReplaced(OpenReader openReader, const PackageMembers& members, const std::string& member,
    const uint8_t* data, size_t size, const std::string& name)
{
    testing::ZipWriter zip;
    for (const auto& [memberName, content] : members)
        zip.Add(memberName, memberName == member ? std::string(reinterpret_cast<const char*>(data), size) : content);
    ReadEveryCellWith(openReader, zip.Finish(), name);
}

} // namespace vellumcast::fuzz
