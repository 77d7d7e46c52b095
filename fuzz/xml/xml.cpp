// The input is an XML file (it may include itself). Whatever it parses to is
// written back and must read back into the same tree.
#include "FException.h"
#include "FMemStorageClass.h"
#include "FPropList.h"
#include "FXmlParser.h"
#include "FXmlWriter.h"
#include "StorageClassRegistry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace
{

FMemStorageClass& Storage()
{
    static FMemStorageClass* storage = [] {
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("fuzzxml"));
        made->MakeFolder(FWideString("f"));
        return made;
    }();
    return *storage;
}

bool StartsWith(const FWideString& text, const char16_t* prefix)
{
    const int length = FWideString::StrLen(prefix);
    return text.GetLength() >= length && FWideString::priCompareUnits(text.GetBuffer(), prefix, length) == 0;
}

// Texts are not written; "Build_Path" values are expanded again when read.
bool SameTree(const FPropList* a, const FPropList* b)
{
    for (; a != nullptr && b != nullptr; a = a->GetNext(), b = b->GetNext()) {
        if (!(a->GetName() == b->GetName()))
            return false;
        const FPropPair* p = a->GetFirstProp();
        const FPropPair* q = b->GetFirstProp();
        for (; p != nullptr && q != nullptr; p = p->GetNext(), q = q->GetNext()) {
            if (!(p->GetName() == q->GetName()))
                return false;
            if (!StartsWith(p->GetName(), u"Build_Path") && !(p->GetValue() == q->GetValue()))
                return false;
        }
        if (p != nullptr || q != nullptr || !SameTree(a->GetFirstChild(), b->GetFirstChild()))
            return false;
    }
    return a == nullptr && b == nullptr;
}

std::unique_ptr<FPropList> Parse(FIFolder* folder, const char* name)
{
    FXmlParser parser;
    try {
        return std::unique_ptr<FPropList>(parser.ParseFile(folder, FWideString(name)));
    } catch (const FExceptionXMLParser&) {
        return nullptr;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Storage().PutFile(FWideString("f/in.xml"), bytes);
    Storage().PutFile(FWideString("f/other.xml"), bytes);
    FWideString fileName;
    FIFolder* folder = OpenFolderURL(FWideString("fuzzxml://f"), fileName, false);
    if (folder == nullptr)
        std::abort();
    std::unique_ptr<FPropList> root = Parse(folder, "in.xml");
    if (root) {
        WritePropListXml(root.get(), folder, FWideString("out.xml"));
        std::unique_ptr<FPropList> again = Parse(folder, "out.xml");
        if (!again || !SameTree(root.get(), again.get()))
            std::abort();
    }
    folder->Release();
    return 0;
}
