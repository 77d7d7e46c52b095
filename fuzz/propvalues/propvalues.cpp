// Property values as scripts and settings files give them: any UTF-16 text through every
// typed getter of a property tree and through the property map's number reading.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FException.h"
#include "FHasProperties.h"
#include "FPropList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Little-endian units; a NUL unit ends the value as it would in a file's attribute.
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2)
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    const FWideString value(units.c_str());

    FPropList node(nullptr, "n");
    node.AddProp(FWideString("v"), value);
    bool found = false;
    (void)node.GetString("v", "", &found);
    (void)node.GetInt("v", 0, &found);
    (void)node.GetFloat("v", 0, &found);
    (void)node.GetColor("v", FUiColor(), &found);
    (void)node.GetBool("v", false, &found);
    (void)node.GetRect("v", FRect(), &found);
    int x = 0;
    int y = 0;
    node.GetPoint("v", 0, 0, x, y, &found);
    node.SetString("v", value);
    node.SetInt("i", node.GetInt("v", 0));
    node.SetFloat("f", node.GetFloat("v", 0));

    FHasProperties props;
    props.SetString("v", value.GetNarrow());
    try {
        (void)props.GetFloat("v", 0);
    } catch (const FExceptionConversion&) {
    }
    return 0;
}
