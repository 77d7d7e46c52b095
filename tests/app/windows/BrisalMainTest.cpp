#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BrisalMain.h"
#include "FCache.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FHeadlessDesktop.h"
#include "FIUiObject.h"
#include "FUiObjectFactory.h"
#include "FUiWidgets.h"

namespace
{

// The application's type names in their fixed order.
const char* const kAppOrder[] = {
    "CAMERA_OBJECT",
    "MAIN_WIN_MGR",
    "REVIEW_WIN_MGR",
    "INFO_WIN_MGR",
    "PROGRESS_WIN_MGR",
    "SAVE_IMAGE_WIN_MGR",
    "SAVE_IMAGES_AS_WIN_MGR",
    "DIRECTORY_WIN_MGR",
    "SETTINGS_MGR",
    "ADJUSTMENT_MGR",
    "COPY_CAMERA_WIN_MGR",
    "DELETE_ALL_WIN_MGR",
    "WHITE_BAL_WIN_MGR",
    "SPLASH_SCREEN_MGR",
    "IP_OBJECT2",
    "COLOR_ADJUST",
    "HISTOGRAM",
    "THUMBNAIL_LIST",
    "THUMBNAIL",
    "IMAGE_VIEW",
    "IMAGE_FILE_LIST",
    "AUTO_LAUNCH_MGR",
};

// Records the names in the order they are registered and refuses one name.
class RecordingFactory : public FIUiObjectFactory
{
public:
    std::vector<std::string> names;
    std::string refuse;
    bool Register(const char* typeName, FIUiObjectCreator* creator) override
    {
        names.push_back(typeName);
        // A refused creator stays the caller's.
        if (refuse == typeName)
            return false;
        delete creator;
        return true;
    }
    FIUiObject* CreateUiObject(const char*) override { return nullptr; }
    void GetCounts(int& registered, int& created) override
    {
        registered = static_cast<int>(names.size());
        created = 0;
    }
    void DumpCreators() override {}
};

std::vector<std::string> WidgetNames()
{
    RecordingFactory widgets;
    RegisterUiWidgets(&widgets);
    return widgets.names;
}

class Creator : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char*) override { return nullptr; }
};

} // namespace

TEST(BrisalMainTest, RegistersTheWidgetsThenTheApplicationsTypesInOrder)
{
    RecordingFactory factory;
    EXPECT_TRUE(RegisterAppCreators(&factory));
    const std::vector<std::string> widgets = WidgetNames();
    ASSERT_FALSE(widgets.empty());
    ASSERT_GE(factory.names.size(), widgets.size());
    EXPECT_EQ(std::vector<std::string>(factory.names.begin(), factory.names.begin() + widgets.size()),
              widgets);
    // What follows is the application's table: every name, once, in its order.
    EXPECT_EQ(std::vector<std::string>(factory.names.begin() + widgets.size(), factory.names.end()),
              std::vector<std::string>(std::begin(kAppOrder), std::end(kAppOrder)));
}

TEST(BrisalMainTest, EveryRegistrationRunsAndAFailureMakesTheAnswerFalse)
{
    const std::vector<std::string> widgets = WidgetNames();
    for (const std::string& refused : {widgets.front(), widgets.back()}) {
        SCOPED_TRACE(refused);
        RecordingFactory factory;
        factory.refuse = refused;
        EXPECT_FALSE(RegisterAppCreators(&factory));
        RecordingFactory all;
        RegisterAppCreators(&all);
        EXPECT_EQ(factory.names, all.names);
    }
}

TEST(BrisalMainTest, SetsVersionCacheLimitAndArgument)
{
    GetHeadlessDesktop().Reset();
    for (const char* argument : {"/home/me/Pictures/2026", ""}) {
        SCOPED_TRACE(argument);
        GetGlobalCache()->SetSize(1000);
        FGenericUiApp* app = CreateGenericUiApp();
        ASSERT_NE(app, nullptr);
        EXPECT_TRUE(BrisalMain(app, FWideString("Rawbench"), WideFromUtf8(argument)));
        const FUiVersion version = app->GetVersion();
        EXPECT_EQ(version.major, 2);
        EXPECT_EQ(version.minor, 3);
        EXPECT_EQ(version.revision, 0);
        EXPECT_EQ(version.build, 3152);
        EXPECT_EQ(GetGlobalCache()->GetSize(), 125829120u);
        EXPECT_EQ(Utf8FromWide(g_usArg1), argument);
        DeleteGenericUiApp(app);
    }
}

// A name taken before the hook runs makes it answer false, yet every other
// type can still be made.
TEST(BrisalMainTest, ADuplicateNameLeavesEveryOtherCreatorRegistered)
{
    RecordingFactory names;
    RegisterAppCreators(&names);
    const std::string taken = "TEXT";
    FGenericUiApp* app = CreateGenericUiApp();
    ASSERT_NE(app, nullptr);
    auto* first = new Creator;
    ASSERT_TRUE(app->GetUiObjectFactory()->Register(taken.c_str(), first));
    EXPECT_FALSE(BrisalMain(app, FWideString("Rawbench"), FWideString()));
    for (const std::string& name : names.names) {
        if (name == taken)
            continue;
        FIUiObject* made = app->GetUiObjectFactory()->CreateUiObject(name.c_str());
        EXPECT_NE(made, nullptr) << name;
        delete made;
    }
    // The first registration of the taken name holds.
    EXPECT_EQ(app->GetUiObjectFactory()->CreateUiObject(taken.c_str()), nullptr);
    DeleteGenericUiApp(app);
}
