#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FDebugTrace.h"
#include "FProbeObject.h"
#include "FUiScriptFixture.h"
#include "UiObjectDoubles.h"

namespace
{

// One property of every type, one of them required.
class FPropsObject : public FUiObject
{
public:
    explicit FPropsObject(const char* typeName) : FUiObject(typeName)
    {
        AddStringProperty("Text", false, &m_text, FWideString("dflt"));
        AddFloatProperty("Ratio", false, &m_ratio, 1.5);
        AddIntProperty("Count", false, &m_count, 7);
        AddBoolProperty("Flag", false, &m_flag, true);
        AddColorProperty("Color", false, &m_color, FUiColor(1, 2, 3, 4));
        AddImageProperty("File_Skin", false, &m_pSkin);
        AddIntProperty("Must", true, &m_must, -1);
        AddIntProperty("Count", false, &m_second, 99); // a second declaration of a name
    }
    ~FPropsObject() override { delete m_pSkin; }

    FWideString m_text;
    double m_ratio = 0;
    int m_count = 0;
    bool m_flag = false;
    FUiColor m_color;
    FIUiPixmap* m_pSkin = nullptr;
    int m_must = 0;
    int m_second = 0;
};

class ScriptedPropsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_app.GetUiObjectFactory()->Register("PROPS", new FUiObjectCreatorOf<FPropsObject>);
        m_app.m_loadable.insert("skin.png");
    }
    // Initialises a fresh object from the attributes; the object and its answer.
    std::unique_ptr<FPropsObject> Load(const std::string& attributes, bool& ok)
    {
        m_root = m_folder.Parse("<PROPS Name=\"P\" " + attributes + "/>");
        EXPECT_TRUE(m_root) << attributes;
        auto object = std::make_unique<FPropsObject>("PROPS");
        ok = object->InitUiObject(&m_app, nullptr, nullptr, m_root.get());
        return object;
    }
    static std::string Value(FPropsObject& object, const char* name)
    {
        for (int i = 0; i < object.GetPropertyCount(); ++i) {
            if (object.GetProperty(i)->GetName() == name) {
                FWideString text;
                object.GetProperty(i)->GetValueText(text);
                return Utf8FromWide(text);
            }
        }
        return "?";
    }

    FUiScriptFolder m_folder;
    FTestApp m_app{"App"};
    std::unique_ptr<FPropList> m_root;
};

TEST_F(ScriptedPropsTest, DefaultsAreInPlaceBeforeAnyRead)
{
    FPropsObject object("PROPS");
    EXPECT_TRUE(object.m_text == "dflt");
    EXPECT_EQ(object.m_ratio, 1.5);
    EXPECT_EQ(object.m_count, 7);
    EXPECT_TRUE(object.m_flag);
    EXPECT_EQ(object.m_color, FUiColor(1, 2, 3, 4));
    EXPECT_EQ(object.m_pSkin, nullptr);
    EXPECT_EQ(object.m_second, 99);
}

TEST_F(ScriptedPropsTest, EachTypeReadsPresentValuesAndKeepsDefaultsOtherwise)
{
    struct Case {
        const char* attributes;
        const char* property;
        bool set;
        const char* valueText;
    };
    const Case cases[] = {
        {"Text=\"hello\"", "Text", true, "hello"},
        {"", "Text", false, "dflt"},
        {"Ratio=\"0.25\"", "Ratio", true, "0.250000"},
        {"", "Ratio", false, "1.500000"},
        {"Count=\"-12\"", "Count", true, "-12"},
        // Malformed numbers follow the property tree's getters: digits up to the first
        // other character, saturation, an empty value as absent; no crash, no garbage.
        {"Count=\"12abc\"", "Count", true, "12"},
        {"Count=\"\"", "Count", false, "7"},
        {"Count=\"99999999999\"", "Count", true, "2147483647"},
        {"Count=\"-99999999999\"", "Count", true, "-2147483648"},
        {"Ratio=\"fast\"", "Ratio", true, "0.000000"},
        {"Ratio=\"\"", "Ratio", false, "1.500000"},
        {"Flag=\"maybe\"", "Flag", true, "true"}, // present, but an unknown word keeps the default
        {"", "Count", false, "7"},
        {"Flag=\"false\"", "Flag", true, "false"},
        {"", "Flag", false, "true"},
        {"Color=\"#FF000080\"", "Color", true, "#ff000080"},
        {"Color=\"#GG\"", "Color", false, "#01020304"}, // unusable: as if absent
        {"", "Color", false, "#01020304"},
        {"File_Skin=\"skin.png\"", "File_Skin", true, "IMAGE (12 x 7)"},
        {"File_Skin=\"missing.png\"", "File_Skin", false,
         "NULL"}, // a file that does not load counts as absent
        {"", "File_Skin", false, "NULL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attributes);
        bool ok = false;
        auto object = Load(std::string(c.attributes) + " Must=\"1\"", ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(object->WasPropertySet(c.property), c.set) << c.property;
        EXPECT_EQ(Value(*object, c.property), c.valueText);
    }
    bool ok = false;
    auto object = Load("Color=\"#FF000080\" Must=\"1\"", ok);
    EXPECT_EQ(object->m_color, FUiColor(255, 0, 0, 128));

    FDebugTraceCapture trace;
    Load("Color=\"red\" Must=\"1\"", ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(trace.GetText(), "Script property Color of App.P has an unusable value 'red'.\n");
}

TEST_F(ScriptedPropsTest, MissingRequiredPropertyFailsAfterReadingAll)
{
    FDebugTraceCapture trace;
    bool ok = true;
    auto object = Load("Text=\"read anyway\" Count=\"3\"", ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(trace.GetText(), "FUiObject::InitUiObject(App.P) FAILED! Did not get all required props.\n");
    EXPECT_TRUE(object->m_text == "read anyway");
    EXPECT_EQ(object->m_second, 3); // properties after the required one are read too
    EXPECT_FALSE(object->WasPropertySet("Must"));
    EXPECT_FALSE(object->WasPropertySet("NotDeclared"));
}

TEST_F(ScriptedPropsTest, RequiredImageThatDoesNotLoadIsMissing)
{
    class FSkinned : public FUiObject
    {
    public:
        FSkinned() : FUiObject("SKINNED") { AddImageProperty("File_Skin", true, &m_pSkin); }
        ~FSkinned() override { delete m_pSkin; }
        FIUiPixmap* m_pSkin = nullptr;
    };
    for (const char* file : {"skin.png", "missing.png"}) {
        m_root = m_folder.Parse(std::string("<SKINNED File_Skin=\"") + file + "\"/>");
        FSkinned object;
        EXPECT_EQ(object.InitUiObject(&m_app, nullptr, nullptr, m_root.get()),
                  std::string(file) == "skin.png");
    }
    FUiObject plain("PLAIN");
    m_root = m_folder.Parse("<PLAIN/>");
    EXPECT_TRUE(plain.InitUiObject(&m_app, nullptr, nullptr, m_root.get()));
}

TEST_F(ScriptedPropsTest, DuplicateDeclarationReportsTheFirst)
{
    bool ok = false;
    auto object = Load("Must=\"1\" Count=\"5\"", ok);
    EXPECT_EQ(object->m_count, 5);
    EXPECT_EQ(object->m_second, 5);
    m_root = m_folder.Parse("<PROPS Must=\"1\"/>");
    object = std::make_unique<FPropsObject>("PROPS");
    object->m_count = 1; // both members changed by hand: neither found
    EXPECT_TRUE(object->InitUiObject(&m_app, nullptr, nullptr, m_root.get()));
    EXPECT_FALSE(object->WasPropertySet("Count"));
}

TEST_F(ScriptedPropsTest, NonVisualObjectsTakeNoRoom)
{
    m_root = m_folder.Parse("<PROPS Name=\"Quiet\"/>"); // the required property is missing
    FPropsObject object("PROPS");
    object.SetRect(1, 2, 3, 4);
    EXPECT_TRUE(InitNonVisualUiObject(&object, &m_app, nullptr, nullptr, m_root.get()));
    EXPECT_EQ(object.GetRect(), FRect());
    for (bool horizontal : {true, false}) {
        FLayoutObject* layout = object.GetLayoutObject(horizontal);
        int size = -1;
        EXPECT_TRUE(layout->GetFixedSize(size));
        EXPECT_EQ(size, 0);
        EXPECT_EQ(layout->GetMinSize(), 0);
        EXPECT_EQ(layout->GetStretch(), 0);
        EXPECT_FALSE(layout->HasMaxSize());
    }
}

// A non-visual object whose own start-up is the shared non-visual one.
class FQuietObject : public FUiObject
{
public:
    explicit FQuietObject(const char* typeName) : FUiObject(typeName) {}
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override
    {
        ++m_iInits;
        return InitNonVisualUiObject(this, app, window, parent, tag);
    }
    int m_iInits = 0;
};

TEST_F(ScriptedPropsTest, NonVisualStartUpCanBeAnObjectsOwn)
{
    m_root = m_folder.Parse("<QUIET Name=\"Quiet\"/>");
    FQuietObject object("QUIET");
    object.SetRect(1, 2, 3, 4);
    EXPECT_TRUE(object.InitUiObject(&m_app, nullptr, nullptr, m_root.get()));
    EXPECT_EQ(object.m_iInits, 1); // the shared steps do not enter the object's own start-up again
    EXPECT_EQ(object.GetRect(), FRect());
    EXPECT_EQ(object.GetLayoutObject(true)->GetMinSize(), 0);
}

TEST(UiObjectFactoryTest, RegistrationCountsAndDump)
{
    std::unique_ptr<FIUiObjectFactory> factory(CreateUiObjectFactory());
    auto* text = new FUiObjectCreatorOf<FPropsObject>;
    EXPECT_TRUE(factory->Register("TEXT", text));
    auto* again = new FUiObjectCreatorOf<FProbeObject>;
    EXPECT_FALSE(factory->Register("TEXT", again)); // the first registration holds
    delete again;                                   // a refused creator stays the caller's
    EXPECT_FALSE(factory->Register(nullptr, again = new FUiObjectCreatorOf<FProbeObject>));
    delete again;
    EXPECT_FALSE(factory->Register("NULLCREATOR", nullptr));

    struct FNullCreator : FIUiObjectCreator {
        FIUiObject* CreateUiObject(const char*) override { return nullptr; }
    };
    EXPECT_TRUE(factory->Register("BROKEN", new FNullCreator));

    std::vector<std::unique_ptr<FIUiObject>> made;
    for (int i = 0; i < 3; ++i)
        made.emplace_back(factory->CreateUiObject("TEXT"));
    EXPECT_EQ(factory->CreateUiObject("text"), nullptr);
    EXPECT_EQ(factory->CreateUiObject("BROKEN"), nullptr);
    EXPECT_NE(dynamic_cast<FPropsObject*>(made[0].get()), nullptr);
    int registered = 0, created = 0;
    factory->GetCounts(registered, created);
    EXPECT_EQ(registered, 2);
    EXPECT_EQ(created, 3);

    FDebugTraceCapture trace;
    factory->DumpCreators();
    EXPECT_EQ(trace.GetText(), "REGISTERED CREATOR: TEXT\n"
                               "OBJECT TYPE: TEXT\n"
                               "   PROP: OPTIONAL STRING  Text Default = dflt\n"
                               "   PROP: OPTIONAL FLOAT   Ratio Default = 1.500000\n"
                               "   PROP: OPTIONAL INTEGER Count Default = 7\n"
                               "   PROP: OPTIONAL BOOLEAN Flag Default = true\n"
                               "   PROP: OPTIONAL COLOR   Color Default = #01020304\n"
                               "   PROP: OPTIONAL IMAGE   File_Skin Default = NULL\n"
                               "   PROP: REQUIRED INTEGER Must Default = -1\n"
                               "   PROP: OPTIONAL INTEGER Count Default = 99\n"
                               "REGISTERED CREATOR: BROKEN\n"
                               "   ***FAILED to CreateUiObject()!\n");
}

} // namespace
