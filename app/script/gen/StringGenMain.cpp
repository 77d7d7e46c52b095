// Turns the display-string table into the script's strings file, and refuses
// a table the script cannot use.
//
//   rb_stringgen <strings.tsv> <out strings.xml> <script file>...
#include <cstdio>
#include <fstream>
#include <sstream>

#include "StringTable.h"

namespace
{

bool ReadAll(const char* path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: rb_stringgen <strings.tsv> <out strings.xml> <script file>...\n");
        return 2;
    }
    std::string table;
    if (!ReadAll(argv[1], table)) {
        std::fprintf(stderr, "%s: cannot be read\n", argv[1]);
        return 1;
    }
    std::vector<FStringRow> rows;
    std::string error;
    if (!ParseStringTable(table, rows, error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 1;
    }
    bool ok = true;
    for (int i = 3; i < argc; ++i) {
        std::string script;
        if (!ReadAll(argv[i], script)) {
            std::fprintf(stderr, "%s: cannot be read\n", argv[i]);
            return 1;
        }
        for (const std::string& name : FindUndefinedNames(rows, FindScriptStringNames(script))) {
            std::fprintf(stderr, "%s: uses the display string %s, which %s does not define\n", argv[i],
                         name.c_str(), argv[1]);
            ok = false;
        }
    }
    if (!ok)
        return 1;
    const std::string out = WriteStringsXml(rows);
    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "%s: cannot be written\n", argv[2]);
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
