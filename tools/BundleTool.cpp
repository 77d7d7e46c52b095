// Packs files into an archive that the application reads as a folder: either
// a file of its own ("ui.btb") or appended to a copy of an executable.

#include "FBundleFile.h"
#include "FBundleWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace
{

struct Input {
    std::string m_name;
    fs::path m_path;
    uint64_t m_size = 0;
};

void PrintUsage()
{
    std::fprintf(stderr, "usage: rb_bundle_tool [--prefix FILE] OUTPUT INPUT...\n"
                         "  INPUT is NAME=PATH (one member) or a folder (every file below it,\n"
                         "  named by its path relative to the folder, in name order).\n"
                         "  --prefix FILE copies FILE first (an executable), padded to 512 bytes.\n");
}

bool Fail(const std::string& text)
{
    std::fprintf(stderr, "rb_bundle_tool: %s\n", text.c_str());
    return false;
}

bool AddInput(const std::string& argument, std::vector<Input>& inputs)
{
    std::error_code error;
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos && fs::is_directory(argument, error)) {
        std::vector<Input> found;
        for (const auto& entry : fs::recursive_directory_iterator(argument, error)) {
            if (!entry.is_regular_file())
                continue;
            found.push_back(Input{fs::relative(entry.path(), argument).generic_string(), entry.path()});
        }
        if (error)
            return Fail("cannot list " + argument + ": " + error.message());
        std::sort(found.begin(), found.end(),
                  [](const Input& a, const Input& b) { return a.m_name < b.m_name; });
        inputs.insert(inputs.end(), found.begin(), found.end());
        return true;
    }
    if (equals == std::string::npos)
        return Fail(argument + " is neither NAME=PATH nor a folder");
    inputs.push_back(Input{argument.substr(0, equals), argument.substr(equals + 1)});
    return true;
}

bool CopyFile(std::ofstream& out, const fs::path& path, uint64_t expected)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Fail("cannot open " + path.string());
    std::vector<char> buffer(1 << 16);
    uint64_t copied = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0)
            break;
        out.write(buffer.data(), got);
        copied += static_cast<uint64_t>(got);
    }
    if (in.bad() || copied != expected)
        return Fail(path.string() + " changed while it was read");
    return true;
}

void PutZeros(std::ofstream& out, uint64_t count)
{
    static const char zeros[kBundleBlockSize] = {};
    out.write(zeros, static_cast<std::streamsize>(count));
}

bool WriteTo(const fs::path& path, const fs::path* prefix, const std::vector<Input>& inputs, uint64_t length)
{
    std::error_code error;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return Fail("cannot create " + path.string());
    if (prefix != nullptr) {
        const uint64_t prefixSize = fs::file_size(*prefix, error);
        if (error || !CopyFile(out, *prefix, prefixSize))
            return Fail("cannot copy " + prefix->string());
        PutZeros(out, FBundleWriter::PaddingAfter(prefixSize));
    }
    unsigned char block[kBundleBlockSize];
    for (const Input& input : inputs) {
        FBundleWriter::MakeHeader(input.m_name, input.m_size, block);
        out.write(reinterpret_cast<const char*>(block), kBundleBlockSize);
        if (!CopyFile(out, input.m_path, input.m_size))
            return false;
        PutZeros(out, FBundleWriter::PaddingAfter(input.m_size));
    }
    PutZeros(out, kBundleBlockSize);
    unsigned char trailer[kBundleTrailerSize];
    FBundleWriter::MakeTrailer(length, trailer);
    out.write(reinterpret_cast<const char*>(trailer), kBundleTrailerSize);
    out.close();
    if (!out)
        return Fail("cannot write " + path.string());
    return true;
}

bool WriteArchive(const fs::path& output, const fs::path* prefix, std::vector<Input>& inputs)
{
    std::error_code error;
    uint64_t length = kBundleBlockSize + kBundleTrailerSize;
    for (Input& input : inputs) {
        input.m_size = fs::file_size(input.m_path, error);
        if (error)
            return Fail("cannot read " + input.m_path.string() + ": " + error.message());
        std::string reason;
        if (!FBundleWriter::CheckMember(input.m_name, input.m_size, &reason))
            return Fail(input.m_name + ": " + reason);
        length += kBundleBlockSize + input.m_size + FBundleWriter::PaddingAfter(input.m_size);
    }
    if (length > FBundleWriter::kMaxArchiveLength)
        return Fail("the archive would be too long for its trailer");

    // Written beside the output and renamed over it, so a failure leaves any old output intact.
    fs::path temporary = output;
    temporary += ".partial";
    if (!WriteTo(temporary, prefix, inputs, length)) {
        fs::remove(temporary, error);
        return false;
    }
    fs::rename(temporary, output, error);
    if (error) {
        fs::remove(temporary, error);
        return Fail("cannot rename to " + output.string() + ": " + error.message());
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    fs::path prefix;
    bool hasPrefix = false;
    std::size_t i = 0;
    if (i + 1 < arguments.size() && arguments[i] == "--prefix") {
        prefix = arguments[i + 1];
        hasPrefix = true;
        i += 2;
    }
    if (arguments.size() < i + 2) {
        PrintUsage();
        return 2;
    }
    const fs::path output = arguments[i++];
    std::vector<Input> inputs;
    for (; i < arguments.size(); ++i) {
        if (!AddInput(arguments[i], inputs))
            return 1;
    }
    return WriteArchive(output, hasPrefix ? &prefix : nullptr, inputs) ? 0 : 1;
}
