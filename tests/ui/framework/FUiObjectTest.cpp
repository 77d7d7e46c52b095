#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FDebugTrace.h"
#include "FProbeObject.h"
#include "FUiScriptFixture.h"
#include "UiObjectDoubles.h"

namespace
{

// An object with two declared events, as widgets declare them.
class FEmitter : public FTestBox
{
public:
    explicit FEmitter(const char* typeName) : FTestBox(typeName)
    {
        AddEvent(FWideString("ON_PRESS"));
        AddEvent(FWideString("ON_INIT"));
    }
    bool Press(void* data) { return FindEvent(FWideString("ON_PRESS"))->Fire(data); }
};

class UiObjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto* factory = m_app.GetUiObjectFactory();
        factory->Register("BOX", new FUiObjectCreatorOf<FTestBox>);
        factory->Register("EMITTER", new FUiObjectCreatorOf<FEmitter>);
        RegisterProbe(factory);
    }

    // A window MainWin built from `body` (the window's one root element).
    FTestWindow* MakeWindow(const std::string& body)
    {
        m_roots.push_back(m_folder.Parse("<WINDOW>" + body + "</WINDOW>"));
        EXPECT_TRUE(m_roots.back()) << body;
        m_windows.push_back(std::make_unique<FTestWindow>(&m_app, "MainWin"));
        EXPECT_TRUE(m_windows.back()->Build(m_roots.back().get()));
        return m_windows.back().get();
    }
    FIUiObject* MakeTopLevel(const std::string& element)
    {
        m_roots.push_back(m_folder.Parse(element));
        return m_roots.back() ? m_app.AddTopLevel(m_roots.back().get()) : nullptr;
    }
    FIUiObject* Find(const char* name)
    {
        return dynamic_cast<FIUiObject*>(m_app.GetUiRelay(FWideString(name)));
    }
    static std::string FullName(FIUiRelay* relay)
    {
        FWideString name;
        relay->GetFullName(name);
        return Utf8FromWide(name);
    }

    FUiScriptFolder m_folder;
    FTestApp m_app{"App"};
    std::vector<std::unique_ptr<FPropList>> m_roots;
    std::vector<std::unique_ptr<FTestWindow>> m_windows;
};

TEST_F(UiObjectTest, UnnamedBoxesAreTransparentInNamesAndLookups)
{
    FTestWindow* window = MakeWindow(R"(<BOX><BOX Name="Pane"><PROBE Name="List"/></BOX></BOX>)");
    FIUiRelay* list = window->GetUiRelay(FWideString("MainWin.Pane.List"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(FullName(list), "App.MainWin.Pane.List");
    EXPECT_EQ(FullName(window->m_pRoot), "App.MainWin");

    FIUiObject* pane = window->m_pRoot->GetFirstChild();
    EXPECT_EQ(pane->GetUiRelay(FWideString("Pane")), pane);
    EXPECT_EQ(pane->GetUiRelay(FWideString("Pane.List")), list);
    EXPECT_EQ(pane->GetUiRelay(FWideString("List")), nullptr);
    EXPECT_EQ(pane->GetUiRelay(FWideString("Other.List")), nullptr);

    // A leaf answers to its short name only.
    auto* leaf = dynamic_cast<FIUiObject*>(list);
    EXPECT_EQ(leaf->GetUiRelay(FWideString("List")), list);
    EXPECT_EQ(leaf->GetUiRelay(FWideString("Pane.List")), nullptr);
    EXPECT_EQ(leaf->GetUiRelay(FWideString("App.MainWin.Pane.List")), nullptr);
    EXPECT_EQ(leaf->GetUiRelay(FWideString("list")), nullptr);
    EXPECT_EQ(m_app.GetUiRelay(FWideString("MainWin.Pane.List")), list);
}

TEST_F(UiObjectTest, TopLevelObjectsTakeTheApplicationsName)
{
    FIUiObject* probe = MakeTopLevel(R"(<PROBE Name="Bridge"/>)");
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(FullName(probe), "App.Bridge");
    FIUiObject* unnamed = MakeTopLevel("<PROBE/>");
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(FullName(unnamed), "App");
}

TEST_F(UiObjectTest, RelaysAreReadInBothFormsWithLongKeysWinning)
{
    FTestWindow* window = MakeWindow(R"(<EMITTER Name="E">
        <ON_PRESS Message="Long" MSG="Short" Relay="P1" GRT="Nobody" Data="d1" DI1="x" DI2="d2"/>
        <ON_PRESS/>
        <EVENT Name="ON_PRESS"><SEND MSG="ViaSend" GRT="P2"/><OTHER/><SEND LRT="" MSG="Local"/></EVENT>
        <EVENT Name="ON_UNDECLARED"><SEND MSG="Never"/></EVENT>
        <ON_UNDECLARED MSG="Never"/>
      </EMITTER>)");
    auto* emitter = dynamic_cast<FEmitter*>(window->m_pRoot);
    ASSERT_NE(emitter, nullptr);
    EXPECT_EQ(emitter->FindEvent(FWideString("ON_UNDECLARED")), nullptr);
    const RelayEvent* press = emitter->FindEvent(FWideString("ON_PRESS"));
    ASSERT_TRUE(press->IsInUse());
    EXPECT_FALSE(emitter->FindEvent(FWideString("ON_INIT"))->IsInUse());

    std::vector<const RelayEvent::Relay*> relays;
    for (const RelayEvent::Relay* r = press->GetFirstRelay(); r; r = r->next)
        relays.push_back(r);
    ASSERT_EQ(relays.size(), 4u);
    EXPECT_TRUE(relays[0]->message == "Long");
    EXPECT_TRUE(relays[0]->relay == "P1");
    EXPECT_TRUE(relays[0]->dataGiven && relays[0]->data[0] == "d1");
    EXPECT_TRUE(relays[0]->data2Given && relays[0]->data[1] == "d2");
    EXPECT_FALSE(relays[0]->localRelayGiven);
    // A relay without keys is still added.
    EXPECT_TRUE(relays[1]->message.IsEmpty());
    EXPECT_FALSE(relays[1]->relayGiven || relays[1]->localRelayGiven || relays[1]->dataGiven);
    EXPECT_TRUE(relays[2]->message == "ViaSend" && relays[2]->relay == "P2");
    EXPECT_TRUE(relays[3]->message == "Local" && relays[3]->localRelayGiven &&
                relays[3]->localRelay.IsEmpty());
}

TEST_F(UiObjectTest, ConnectResolvesGlobalLocalAndWindowTargets)
{
    FTestWindow* window = MakeWindow(R"(<BOX><BOX Name="Pane"><PROBE Name="List"/>
        <EMITTER Name="E">
          <ON_PRESS Relay="Global" Message="ToGlobal"/>
          <ON_PRESS LocalRelay="Pane.List" Message="ToList"/>
          <ON_PRESS LocalRelay="" Message="ToWindow"/>
          <ON_PRESS Relay="App" Message="ToApp"/>
        </EMITTER></BOX>
        <EMITTER Name="Second"><ON_INIT LocalRelay="Nowhere" Message="Lost"/></EMITTER></BOX>)");
    MakeTopLevel(R"(<PROBE Name="Global"/>)");
    auto* emitter = dynamic_cast<FEmitter*>(Find("MainWin.Pane.E"));
    ASSERT_NE(emitter, nullptr);

    FDebugTraceCapture trace;
    // The second emitter's relay stays unresolved: the whole answer is false, yet the
    // first emitter, an earlier child, is connected.
    EXPECT_FALSE(window->ConnectRelays());
    EXPECT_TRUE(trace.Contains("RelayEvent::Connect() window target (MainWin.Nowhere) FAILED!\n"));
    EXPECT_TRUE(emitter->Press(nullptr));

    auto* list = FProbeObject::FindLive("List");
    auto* global = FProbeObject::FindLive("Global");
    EXPECT_EQ(list->GetMessages(), "ToList");
    EXPECT_EQ(global->GetMessages(), "ToGlobal");
    EXPECT_EQ(window->m_messages, std::vector<std::string>{"ToWindow"});
    EXPECT_EQ(m_app.m_messages, std::vector<std::string>{"ToApp"});

    // Connecting again keeps the targets: one message each per firing.
    trace.Clear();
    EXPECT_FALSE(window->ConnectRelays());
    emitter->Press(nullptr);
    EXPECT_EQ(list->GetMessages(), "ToList,ToList");
}

TEST_F(UiObjectTest, TopLevelObjectsConnectOnlyGlobalNames)
{
    MakeWindow(R"(<PROBE Name="InWindow"/>)");
    auto* ok = dynamic_cast<FEmitter*>(
        MakeTopLevel(R"(<EMITTER Name="A"><ON_PRESS Relay="MainWin.InWindow" Message="M"/></EMITTER>)"));
    auto* local = dynamic_cast<FEmitter*>(
        MakeTopLevel(R"(<EMITTER Name="B"><ON_PRESS LocalRelay="" Message="M"/></EMITTER>)"));
    auto* none =
        dynamic_cast<FEmitter*>(MakeTopLevel(R"(<EMITTER Name="C"><ON_PRESS Message="M"/></EMITTER>)"));
    auto* unused = dynamic_cast<FEmitter*>(MakeTopLevel(R"(<EMITTER Name="D"/>)"));
    ASSERT_TRUE(ok && local && none && unused);
    EXPECT_TRUE(ok->ConnectRelays());
    EXPECT_FALSE(local->ConnectRelays());
    EXPECT_FALSE(none->ConnectRelays());
    EXPECT_TRUE(unused->ConnectRelays());
    // Unresolved relays and unused events fire without effect.
    EXPECT_TRUE(local->Press(nullptr));
    EXPECT_TRUE(unused->Press(nullptr));
    EXPECT_TRUE(ok->Press(nullptr));
    EXPECT_EQ(FProbeObject::FindLive("InWindow")->GetMessages(), "M");
}

TEST_F(UiObjectTest, FirePassesDataAndAndsTheAnswers)
{
    MakeTopLevel(R"(<PROBE Name="P1"/>)");
    MakeTopLevel(R"(<PROBE Name="P2"/>)");
    auto* emitter = dynamic_cast<FEmitter*>(MakeTopLevel(R"(<EMITTER>
        <ON_PRESS Relay="P1" Message="Both" Data="5"/>
        <ON_PRESS Relay="P2" Message="Only2" Data2="x"/>
        <ON_PRESS Relay="P1" Message="NoData"/>
        <ON_PRESS Relay="Missing" Message="Skipped"/>
      </EMITTER>)"));
    ASSERT_NE(emitter, nullptr);
    emitter->ConnectRelays();
    auto* p1 = FProbeObject::FindLive("P1");
    auto* p2 = FProbeObject::FindLive("P2");
    p1->SetDataKind("Both", EProbeData::kStrings2);
    p2->SetDataKind("Only2", EProbeData::kStrings2);

    struct Case {
        const char* what;
        bool p1Answer, p2Answer;
        bool callerData;
        bool expected;
    };
    const Case cases[] = {
        {"all true, script data", true, true, false, true},
        {"one false", true, false, false, false},
        {"caller data wins", true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        p1->Clear();
        p2->Clear();
        p1->SetAnswer(c.p1Answer);
        p2->SetAnswer(c.p2Answer);
        FWideString own[2] = {FWideString("mine"), FWideString("too")};
        EXPECT_EQ(emitter->Press(c.callerData ? own : nullptr), c.expected);
        // Every resolved target got its message whatever the others answered.
        ASSERT_EQ(p1->GetRecords().size(), 2u);
        ASSERT_EQ(p2->GetRecords().size(), 1u);
        if (c.callerData) {
            EXPECT_EQ(p1->GetRecords()[0].data, "mine|too");
            EXPECT_EQ(p2->GetRecords()[0].pointer, own);
            EXPECT_EQ(p1->GetRecords()[1].pointer, own);
        } else {
            EXPECT_EQ(p1->GetRecords()[0].data, "5|");
            EXPECT_FALSE(p2->GetRecords()[0].hadData); // Data2 alone passes nothing
            EXPECT_FALSE(p1->GetRecords()[1].hadData);
        }
    }
}

TEST_F(UiObjectTest, DeletedListenerIsNotCalledAgain)
{
    FIUiObject* probe = MakeTopLevel(R"(<PROBE Name="Listener"/>)");
    FWideString current;
    ASSERT_TRUE(m_app.AddLanguageListener(probe, current));
    ASSERT_TRUE(m_app.AddLanguageListener(probe, current));
    EXPECT_EQ(m_app.m_listeners.size(), 1u);
    m_app.m_objects.clear();
    delete probe;
    EXPECT_TRUE(m_app.m_listeners.empty());
    m_app.BroadcastLanguage("German"); // under AddressSanitizer this would touch freed memory
}

TEST_F(UiObjectTest, DefaultWheelGoesToTheParentAndCopyTraces)
{
    struct WheelBox : FTestBox {
        using FTestBox::FTestBox;
        void MouseWheel(int, int, int, int notches) override { m_notches += notches; }
        int m_notches = 0;
    };
    m_app.GetUiObjectFactory()->Register("WHEELBOX", new FUiObjectCreatorOf<WheelBox>);
    FTestWindow* window = MakeWindow(R"(<WHEELBOX><PROBE Name="Leaf"/></WHEELBOX>)");
    auto* box = dynamic_cast<WheelBox*>(window->m_pRoot);
    ASSERT_NE(box, nullptr);
    box->GetFirstChild()->MouseWheel(1, 2, 0, -3);
    EXPECT_EQ(box->m_notches, -3);

    FDebugTraceCapture trace;
    FWideString text;
    box->GetFirstChild()->Copy(text);
    box->GetFirstChild()->Cut(text);
    box->GetFirstChild()->Paste(text);
    EXPECT_EQ(trace.GetText(),
              "This copy request is not being handled.\nThis cut request is not being handled.\n"
              "This paste request is not being handled.\n");
}

TEST(FRectClipTest, MirrorCasesAndTruncationTowardZero)
{
    struct Case {
        FRect destination, source, wantDestination, wantSource;
    };
    const FRect bounds(0, 0, 100, 100);
    const Case cases[] = {
        {{-10, 0, 40, 50}, {0, 0, 100, 50}, {0, 0, 40, 50}, {20, 0, 100, 50}}, // left
        {{0, -10, 50, 40}, {0, 0, 50, 100}, {0, 0, 50, 40}, {0, 20, 50, 100}}, // top
        {{60, 0, 110, 50}, {0, 0, 100, 50}, {60, 0, 100, 50}, {0, 0, 80, 50}}, // right
        {{0, 60, 50, 110}, {0, 0, 50, 100}, {0, 60, 50, 100}, {0, 0, 50, 80}}, // bottom
        // A reversed source makes the numerator negative: -45 / 20 is -2, not -3.
        {{-3, 0, 17, 20}, {15, 0, 0, 20}, {0, 0, 17, 20}, {13, 0, 0, 20}},
    };
    for (const Case& c : cases) {
        FRect d = c.destination, s = c.source;
        bounds.ClipScaled(d, s);
        EXPECT_EQ(d, c.wantDestination);
        EXPECT_EQ(s, c.wantSource);
    }
}

} // namespace
