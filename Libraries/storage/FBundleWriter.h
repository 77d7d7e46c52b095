#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Builds archives that FBundleFolder reads: a ustar header per member, its
// data padded to 512 bytes, one empty header, then the 14-byte trailer whose
// last ten bytes give the archive's length. An archive appended to another
// file (an executable) must start at a multiple of 512 in that file.
class FBundleWriter
{
public:
    // Member names are 8-bit text of 1 to 99 bytes without NUL.
    static constexpr std::size_t kMaxNameLength = 99;
    // Sizes are written as eleven octal digits.
    static constexpr uint64_t kMaxMemberSize = (uint64_t{1} << 33) - 1;
    // The trailer's length has ten decimal digits.
    static constexpr uint64_t kMaxArchiveLength = 9999999999ULL;

    // False, with the reason, for a name or a size the format cannot hold.
    static bool CheckMember(const std::string& name, uint64_t size, std::string* reason);
    // A header of 512 bytes for a checked member.
    static void MakeHeader(const std::string& name, uint64_t size, unsigned char* header);
    // The 14-byte trailer.
    static void MakeTrailer(uint64_t archiveLength, unsigned char* trailer);
    // Zero bytes that bring `offset` up to the next multiple of 512.
    static uint64_t PaddingAfter(uint64_t offset);

    bool AddMember(const std::string& name, std::vector<unsigned char> data, std::string* reason = nullptr);
    // Pads `file` with zeros to a multiple of 512, then appends the archive.
    // False when the archive would be too long for its trailer.
    bool AppendTo(std::vector<unsigned char>& file) const;

private:
    struct Member {
        std::string m_name;
        std::vector<unsigned char> m_data;
    };
    std::vector<Member> m_members;
};
