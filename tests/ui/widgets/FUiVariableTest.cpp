#include <gtest/gtest.h>

#include <string>

#include "FHeadlessDesktop.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FUiVariable.h"
#include "FUiWidgets.h"
#include "WidgetTestSupport.h"

namespace
{

const char* kVariables = R"(<PROBE Name="Probe"/>
  <WINDOW Name="W" BgColor="#E0E0E0" DX="50" DY="50"/>
  <VARIABLE Name="V" PersistentData="false" String="s" Float="1.5" Int="7" Bool="false">
    <ON_INIT_STRING Relay="Probe" Message="InitString"/><ON_INIT_FLOAT Relay="Probe" Message="InitFloat"/>
    <ON_INIT_INT Relay="Probe" Message="InitInt"/><ON_INIT_BOOL Relay="Probe" Message="InitBool"/>
    <ON_SET_STRING Relay="Probe" Message="SetString"/><ON_SET_INT Relay="Probe" Message="SetInt"/>
    <ON_SET_BOOL Relay="Probe" Message="SetBool"/><ON_SEND_FLOAT Relay="Probe" Message="SendFloat"/>
    <ON_SEND_STRING Relay="Probe" Message="SendString"/><ON_SEND_INT Relay="Probe" Message="SendInt"/>
    <ON_SEND_BOOL Relay="Probe" Message="SendBool"/>
    <ON_TRUE Relay="Probe" Message="True"/><ON_FALSE Relay="Probe" Message="False"/>
    <ON_EQUAL Relay="Probe" Message="Equal"/>
  </VARIABLE>
  <VARIABLE Name="Kept" PersistentData="true" String="$AppFolderURL" Int="3"/>
  <VARIABLE Name="NoFlag" String="x"/>
  <STRCMP Name="C" String="Yes"><ON_COMPARE Relay="Probe" Message="Compare"/></STRCMP>
)";

struct VariableRun {
    std::unique_ptr<FUiTestApp> run;
    FUiVariable* v = nullptr;
    FProbeObject* probe = nullptr;

    VariableRun()
    {
        run = MakeWidgetRun(WidgetScript(kVariables), {RegisterUiVariable, RegisterUiStrCmp});
        v = dynamic_cast<FUiVariable*>(FindWidget(*run, "V"));
        probe = FProbeObject::FindLive("Probe");
        for (const char* m : {"InitString", "SetString", "SendString"})
            probe->SetDataKind(m, EProbeData::kString);
        for (const char* m : {"InitInt", "SetInt", "SendInt"})
            probe->SetDataKind(m, EProbeData::kInt);
        for (const char* m : {"InitBool", "SetBool", "SendBool", "Compare"})
            probe->SetDataKind(m, EProbeData::kBool);
        probe->SetDataKind("InitFloat", EProbeData::kDouble);
    }
    bool Send(const char* message, void* data = nullptr)
    {
        return v->UiRelayMessage(FWideString(message), data);
    }
};

TEST(VariableTest, StartSequenceAndTypedEvents)
{
    VariableRun r;
    ASSERT_NE(r.v, nullptr);
    EXPECT_EQ(FindWidget(*r.run, "NoFlag"), nullptr);
    EXPECT_EQ(r.v->GetRect().Width(), 0);
    // The probe, made first, gets its own start message first.
    ASSERT_EQ(r.probe->GetMessages(),
              "Post Creation Initialization,InitString,InitFloat,InitInt,InitBool,False");
    // Recorded before the test could declare the data kinds: read through the pointers.
    EXPECT_EQ(*static_cast<FWideString*>(r.probe->GetRecords()[1].pointer), "s");
    EXPECT_EQ(*static_cast<int*>(r.probe->GetRecords()[3].pointer), 7);
    r.probe->Clear();
    EXPECT_TRUE(r.Send("ToggleBool"));
    ASSERT_EQ(r.probe->GetMessages(), "SetBool,True");
    EXPECT_EQ(r.probe->GetRecords()[0].data, "true");
    r.probe->Clear();
    FWideString other("S");
    EXPECT_TRUE(r.Send("CmpString", &other));
    EXPECT_EQ(r.probe->GetMessages(), "");
    FWideString same("s");
    EXPECT_TRUE(r.Send("CmpString", &same));
    EXPECT_EQ(r.probe->GetMessages(), "Equal");
    double f = 0;
    EXPECT_TRUE(r.Send("GetFloat", &f));
    EXPECT_EQ(f, 1.5);
    EXPECT_FALSE(r.Send("GetFloat"));
    EXPECT_FALSE(r.Send("SetInt"));
    EXPECT_FALSE(r.Send("Unknown"));
    EXPECT_TRUE(r.Send("EmptyString"));
    EXPECT_EQ(r.v->GetString(), "");
}

TEST(VariableTest, TypedGettersAndSends)
{
    VariableRun r;
    ASSERT_NE(r.v, nullptr);
    r.probe->Clear();
    int i = 0;
    bool b = true;
    EXPECT_TRUE(r.Send("GetInt", &i));
    EXPECT_EQ(i, 7);
    EXPECT_TRUE(r.Send("GetBool", &b));
    EXPECT_FALSE(b);
    EXPECT_FALSE(r.Send("GetInt"));
    EXPECT_FALSE(r.Send("GetBool"));
    EXPECT_EQ(r.probe->GetMessages(), "") << "getters fire nothing";
    // A send fires the value as it is, with no data needed; the boolean one adds its verdict.
    EXPECT_TRUE(r.Send("SendString"));
    EXPECT_TRUE(r.Send("SendInt"));
    EXPECT_TRUE(r.Send("SendBool"));
    ASSERT_EQ(r.probe->GetMessages(), "SendString,SendInt,SendBool,False");
    EXPECT_EQ(r.probe->GetRecords()[0].data, "s");
    EXPECT_EQ(r.probe->GetRecords()[1].data, "7");
    EXPECT_EQ(r.probe->GetRecords()[2].data, "false");
    EXPECT_EQ(r.v->GetInt(), 7) << "sending changes nothing";
}

TEST(VariableTest, ATargetSettingTheVariableAgainCannotLoop)
{
    VariableRun r;
    ASSERT_NE(r.v, nullptr);
    r.probe->Clear();
    FWideString seen;
    r.probe->SetOnMessage([&](const FProbeRecord& record) {
        if (record.message == "SetInt") {
            int again = 99;
            EXPECT_TRUE(r.Send("SetInt", &again));
        }
        if (record.message == "SetString")
            r.Send("GetString", &seen);
    });
    int value = 5;
    EXPECT_TRUE(r.Send("SetInt", &value));
    EXPECT_EQ(r.v->GetInt(), 5);
    EXPECT_EQ(r.probe->GetMessages(), "SetInt");
    FWideString text("new");
    EXPECT_TRUE(r.Send("SetString", &text));
    EXPECT_EQ(seen, "new");
    // Values far outside 32 bits come in through doubles unchanged.
    double huge = 1e300;
    EXPECT_TRUE(r.Send("SetFloat", &huge));
    EXPECT_EQ(r.v->GetFloat(), 1e300);
}

TEST(VariableTest, PersistentValuesComeBackAndWinOverTheScript)
{
    UseBoxFont();
    FUiTestApp run(WidgetScript(kVariables), false);
    RegisterUiVariable(run.GetApp()->GetUiObjectFactory());
    RegisterUiStrCmp(run.GetApp()->GetUiObjectFactory());
    run.WriteAppDataFile("TestApp.state.xml", "<STATE><PERDATA Name=\"TestApp.Kept\" String=\"from disk\" "
                                              "Float=\"0.5000\" Bool=\"T\"/></STATE>");
    ASSERT_TRUE(run.Init());
    HeadlessPumpUntilIdle();
    auto* kept = dynamic_cast<FUiVariable*>(run.GetApp()->GetUiRelay(FWideString("Kept")));
    ASSERT_NE(kept, nullptr);
    FWideString fullName;
    kept->GetFullName(fullName);
    EXPECT_EQ(fullName, "TestApp.Kept");
    // The stored string beats the built-in value; what was not stored keeps the script's.
    EXPECT_EQ(kept->GetString(), "from disk");
    EXPECT_EQ(kept->GetFloat(), 0.5);
    EXPECT_EQ(kept->GetInt(), 3);
    EXPECT_TRUE(kept->GetBool());
    int i = -12;
    kept->UiRelayMessage(FWideString("SetInt"), &i);
    double f = 2.25;
    kept->UiRelayMessage(FWideString("SetFloat"), &f);
    bool b = false;
    kept->UiRelayMessage(FWideString("SetBool"), &b);
    run.Finish();
    std::unique_ptr<FPropList> state = run.ReadStateFile();
    ASSERT_NE(state, nullptr);
    FPropList* entry = state->GetFirstChild();
    while (entry && !(entry->GetString("Name", FWideString()) == "TestApp.Kept"))
        entry = entry->GetNext();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->GetString("String", FWideString()), "from disk");
    EXPECT_EQ(entry->GetString("Float", FWideString()), "2.2500");
    EXPECT_EQ(entry->GetString("Int", FWideString()), "-12");
    EXPECT_EQ(entry->GetString("Bool", FWideString()), "F");

    // Without a stored record the built-in folder value is resolved.
    VariableRun fresh;
    auto* builtIn = dynamic_cast<FUiVariable*>(FindWidget(*fresh.run, "Kept"));
    ASSERT_NE(builtIn, nullptr);
    EXPECT_FALSE(builtIn->GetString() == "$AppFolderURL");
}

TEST(StrCmpTest, ComparesExactlyAndRefusesMissingData)
{
    VariableRun r;
    FIUiObject* cmp = FindWidget(*r.run, "C");
    ASSERT_NE(cmp, nullptr);
    r.probe->Clear();
    FWideString yes("Yes"), lower("yes");
    EXPECT_TRUE(cmp->UiRelayMessage(FWideString("Compare"), &yes));
    EXPECT_TRUE(cmp->UiRelayMessage(FWideString("Compare"), &lower));
    EXPECT_FALSE(cmp->UiRelayMessage(FWideString("Compare"), nullptr));
    ASSERT_EQ(r.probe->GetMessages(), "Compare,Compare");
    EXPECT_EQ(r.probe->GetRecords()[0].data, "true");
    EXPECT_EQ(r.probe->GetRecords()[1].data, "false");
}

} // namespace
