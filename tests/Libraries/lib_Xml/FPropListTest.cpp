#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "FHasProperties.h"
#include "FPropList.h"

namespace
{

std::string Narrow(const FWideString& s)
{
    return s.GetNarrow();
}

// One line per node: depth-indented name with its pairs, in tree order.
void Describe(const FPropList* node, int depth, std::string& out)
{
    for (; node != nullptr; node = node->GetNext()) {
        out += std::string(static_cast<size_t>(depth) * 2, ' ') + Narrow(node->GetName());
        for (const FPropPair* p = node->GetFirstProp(); p != nullptr; p = p->GetNext())
            out += " " + Narrow(p->GetName()) + "=" + Narrow(p->GetValue());
        out += "\n";
        Describe(node->GetFirstChild(), depth + 1, out);
    }
}

std::string Describe(const FPropList* first)
{
    std::string out;
    Describe(first, 0, out);
    return out;
}

FPropList* Child(FPropList* parent, const char* name, const char* propName = nullptr,
                 const char* value = nullptr)
{
    FPropList* node = new FPropList(parent, name);
    if (propName != nullptr)
        node->AddProp(propName, value);
    return node;
}

class FPropListTest : public ::testing::Test
{
protected:
    void SetUp() override { m_baseline = GetPropListCount(); }
    void TearDown() override { EXPECT_EQ(GetPropListCount(), m_baseline) << "nodes leaked"; }

    int m_baseline = 0;
};

// ---- typed getters --------------------------------------------------------------------------

TEST_F(FPropListTest, ColourValues)
{
    struct Case {
        const char* text;
        bool found;
        FUiColor colour;
    };
    const FUiColor fallback(1, 2, 3, 4);
    const Case cases[] = {
        {"#FF8000", true, {255, 128, 0, 255}},
        {"#FF800080", true, {255, 128, 0, 128}},
        {"#ff8000", false, fallback},
        {"FF8000", false, fallback},
        {"#FF800", false, fallback},
        {"#FF80000", false, fallback},
        {"#FF8000 ", false, fallback},
        {"#0G0000", false, fallback},
        {"", false, fallback},
        {"#000000", true, {0, 0, 0, 255}},
    };
    FPropList node(nullptr, "n");
    for (const Case& c : cases) {
        node.SetString("c", c.text);
        bool found = !c.found;
        EXPECT_EQ(node.GetColor("c", fallback, &found), c.colour) << c.text;
        EXPECT_EQ(found, c.found) << c.text;
    }
    bool found = true;
    EXPECT_EQ(node.GetColor("absent", fallback, &found), fallback);
    EXPECT_FALSE(found);
}

TEST_F(FPropListTest, RectangleValuesAreInclusiveInTheText)
{
    struct Case {
        const char* text;
        bool found;
        FRect rect;
    };
    const FRect fallback(-1, -1, -1, -1);
    const Case cases[] = {
        {"0, 0, 99, 49", true, {0, 0, 100, 50}},
        {"1,2,3", false, fallback},
        {"\t1 ,\t2 , 3,4", true, {1, 2, 4, 5}},
        {",,,", true, {0, 0, 1, 1}},
        {"1,2,3,4 and more", true, {1, 2, 4, 5}},
        {"1,2,3,4,5", true, {1, 2, 4, 5}},
        {"-1,2,3,4", false, fallback},
        {"1;2;3;4", false, fallback},
        {"", false, fallback},
        {"99999999999,0,99999999999,0", true, {2147483646, 0, 2147483647, 1}},
    };
    FPropList node(nullptr, "n");
    for (const Case& c : cases) {
        node.SetString("r", c.text);
        bool found = !c.found;
        EXPECT_EQ(node.GetRect("r", fallback, &found), c.rect) << c.text;
        EXPECT_EQ(found, c.found) << c.text;
    }
}

TEST_F(FPropListTest, PointValues)
{
    struct Case {
        const char* text;
        bool found;
        int x, y;
    };
    const Case cases[] = {
        {"-3, +4", true, -3, 4},
        {"\t7,8 tail", true, 7, 8},
        {"5", false, 10, 20},
        {"a,b", false, 10, 20},
        {",", true, 0, 0},
        {"1 ; 2", false, 10, 20},
        {"-99999999999,99999999999", true, INT32_MIN, INT32_MAX},
    };
    FPropList node(nullptr, "n");
    for (const Case& c : cases) {
        node.SetString("p", c.text);
        bool found = !c.found;
        int x = 0;
        int y = 0;
        node.GetPoint("p", 10, 20, x, y, &found);
        EXPECT_EQ(found, c.found) << c.text;
        EXPECT_EQ(x, c.x) << c.text;
        EXPECT_EQ(y, c.y) << c.text;
    }
}

TEST_F(FPropListTest, BoolWordsAreExact)
{
    FPropList node(nullptr, "n");
    for (const char* word :
         {"TRUE", "True", "T", "true", "t", "YES", "Yes", "Y", "yes", "y", "ON", "On", "on", "1"}) {
        node.SetString("b", word);
        EXPECT_TRUE(node.GetBool("b", false)) << word;
    }
    for (const char* word :
         {"FALSE", "False", "F", "false", "f", "NO", "No", "N", "no", "n", "OFF", "Off", "off", "0"}) {
        node.SetString("b", word);
        EXPECT_FALSE(node.GetBool("b", true)) << word;
    }
    for (const char* word : {"maybe", "tRUE", "yES", " 1", "2", ""}) {
        node.SetString("b", word);
        bool found = false;
        EXPECT_TRUE(node.GetBool("b", true, &found)) << word;
        EXPECT_FALSE(node.GetBool("b", false, &found)) << word;
        EXPECT_TRUE(found) << word; // the pair exists
    }
    bool found = true;
    EXPECT_TRUE(node.GetBool("absent", true, &found));
    EXPECT_FALSE(found);
}

TEST_F(FPropListTest, IntegerValues)
{
    struct Case {
        const char* text;
        bool found;
        int value;
    };
    const Case cases[] = {
        {"42", true, 42},
        {" 12abc", true, 12},
        {"-7", true, -7},
        {"+8", true, 8},
        {"abc", true, 0},
        {"", false, 99},
        {"\t\n 5", true, 5},
        {"99999999999", true, INT32_MAX},
        {"-99999999999", true, INT32_MIN},
        {"2147483647", true, INT32_MAX},
        {"- 3", true, 0},
        {"0x10", true, 0},
    };
    FPropList node(nullptr, "n");
    for (const Case& c : cases) {
        node.SetString("i", c.text);
        bool found = !c.found;
        EXPECT_EQ(node.GetInt("i", 99, &found), c.value) << c.text;
        EXPECT_EQ(found, c.found) << c.text;
    }
    node.SetString("i", "");
    bool found = false;
    EXPECT_TRUE(node.GetString("i", "dflt", &found).IsEmpty());
    EXPECT_TRUE(found);
    EXPECT_TRUE(node.GetString("absent", "dflt", &found) == "dflt");
    EXPECT_FALSE(found);
}

TEST_F(FPropListTest, FloatValues)
{
    struct Case {
        const char* text;
        bool found;
        double value;
    };
    const Case cases[] = {
        {"2.5", true, 2.5},   {"-0.125x", true, -0.125}, {"abc", true, 0.0}, {"", false, 7.0},
        {" 1e3", true, 1000}, {"3,5", true, 3.0},        {"+4.", true, 4.0},
    };
    FPropList node(nullptr, "n");
    for (const Case& c : cases) {
        node.SetString("f", c.text);
        bool found = !c.found;
        EXPECT_EQ(node.GetFloat("f", 7.0, &found), c.value) << c.text;
        EXPECT_EQ(found, c.found) << c.text;
    }
    // Long values are read from their first 511 units, without overrunning anything.
    const std::string longText = "1" + std::string(600, '0');
    node.SetString("f", longText.c_str());
    EXPECT_TRUE(std::isinf(node.GetFloat("f", 0)));
    const std::string cut = "0." + std::string(509, '0') + "9";
    node.SetString("f", cut.c_str());
    EXPECT_EQ(node.GetFloat("f", -1), 0.0);
    FWideString odd(u"1.5\u00e9");
    node.SetString("f", odd);
    EXPECT_EQ(node.GetFloat("f", 0), 1.5);
}

TEST_F(FPropListTest, SettersFormatNumbers)
{
    FPropList node(nullptr, "n");
    node.SetInt("i", -42);
    node.SetFloat("f", 2.5);
    node.SetFloat("g", -1.0 / 3.0);
    node.SetFloat("h", 123456789.98765);
    node.SetBool("t", true);
    node.SetBool("u", false);
    EXPECT_EQ(Narrow(node.GetString("i", "")), "-42");
    EXPECT_EQ(Narrow(node.GetString("f", "")), "2.5000");
    EXPECT_EQ(Narrow(node.GetString("g", "")), "-0.3333");
    EXPECT_EQ(Narrow(node.GetString("h", "")), "123456789.9877");
    EXPECT_EQ(Narrow(node.GetString("t", "")), "T");
    EXPECT_EQ(Narrow(node.GetString("u", "")), "F");
    EXPECT_EQ(node.GetInt("i", 0), -42);
    EXPECT_EQ(node.GetFloat("f", 0), 2.5);
}

TEST_F(FPropListTest, SetStringChangesEveryPairOfTheName)
{
    FPropList node(nullptr, "n");
    node.AddProp("a", "1");
    node.AddProp("b", "2");
    node.AddProp("a", "3");
    node.SetString("a", "x");
    node.SetString("c", "new");
    EXPECT_EQ(Describe(&node), "n a=x b=2 a=x c=new\n");
    EXPECT_EQ(node.GetPropCount(), 4);
}

// Generates a German locale where the machine has none, so that a decimal comma would
// show in any locale-dependent parsing or formatting. The work runs in a child process,
// which keeps the locale change away from other tests.
TEST_F(FPropListTest, NumbersIgnoreTheProcessLocale)
{
    char dir[] = "/tmp/rb-locale-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string localeDir = std::string(dir) + "/de_DE.UTF-8";
    const std::string command = "localedef -i de_DE -f UTF-8 '" + localeDir + "' >/dev/null 2>&1";
    const bool made = std::system(command.c_str()) == 0;
    const pid_t child = made ? fork() : -1;
    if (child == 0) {
        setenv("LOCPATH", dir, 1);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
            _exit(3);
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 2.5);
        if (std::string(probe) != "2,5")
            _exit(4); // the locale did not take: the test would prove nothing
        int failures = 0;
        {
            FPropList node(nullptr, "n");
            node.SetFloat("f", 2.5);
            node.SetInt("i", 1234567);
            failures += !(node.GetString("f", "") == "2.5000");
            failures += !(node.GetString("i", "") == "1234567");
            node.SetString("f", "3.75");
            failures += node.GetFloat("f", 0) != 3.75;
            node.SetString("f", "3,75");
            failures += node.GetFloat("f", 0) != 3.0;
            FHasProperties props;
            props.SetString("v", "0.5");
            failures += props.GetFloat("v", 0) != 0.5;
        }
        _exit(failures == 0 ? 0 : 1);
    }
    int status = -1;
    if (child > 0)
        waitpid(child, &status, 0);
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    if (!made)
        GTEST_SKIP() << "no locale could be generated here";
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3 || WEXITSTATUS(status) == 4)
        GTEST_SKIP() << "the generated locale could not be used";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---- structure ------------------------------------------------------------------------------

TEST_F(FPropListTest, PairsAreSearchedInsertedAndRemoved)
{
    FPropList node(nullptr, "n");
    EXPECT_TRUE(node.AddProp(FWideString("a"), FWideString("1")));
    node.AddProp("b", "2");
    node.AddProp("a", "3");
    EXPECT_TRUE(node.FindProp("a")->GetValue() == "1"); // the first wins
    EXPECT_EQ(node.FindProp("A"), nullptr);             // exact names
    FPropPair* b = node.FindProp("b");
    EXPECT_EQ(b->GetOwner(), &node);
    EXPECT_TRUE(b->InsertCopyAfter(node.FindProp("a"), "copy"));
    EXPECT_EQ(Describe(&node), "n a=1 b=2 a=copy a=3\n");

    FPropList other(nullptr, "o");
    other.AddProp("x", "9");
    other.AddProp("y", "8");
    EXPECT_TRUE(b->InsertChainAfter(other.GetFirstProp()));
    EXPECT_EQ(Describe(&node), "n a=1 b=2 x=9 y=8 a=copy a=3\n");
    // A chain inserted into its own list is copied as it stood.
    FPropPair* first = node.GetFirstProp();
    EXPECT_TRUE(first->InsertChainAfter(first->GetNext()->GetNext()->GetNext()->GetNext()));
    EXPECT_EQ(Describe(&node), "n a=1 a=copy a=3 b=2 x=9 y=8 a=copy a=3\n");

    FPropPair* foreign = other.GetFirstProp();
    EXPECT_FALSE(node.RemoveProp(foreign));
    EXPECT_NE(foreign, nullptr);
    FPropPair* head = node.GetFirstProp();
    EXPECT_TRUE(node.RemoveProp(head));
    EXPECT_EQ(head, nullptr);
    FPropPair* middle = node.FindProp("x");
    EXPECT_TRUE(node.RemoveProp(middle));
    FPropPair* none = nullptr;
    EXPECT_FALSE(node.RemoveProp(none));
    EXPECT_EQ(Describe(&node), "n a=copy a=3 b=2 y=8 a=copy a=3\n");
}

// Appends go after the current last pair, however the end was reached or removed.
TEST_F(FPropListTest, AppendsFollowTheLastPairAfterInsertsAndRemovals)
{
    FPropList node(nullptr, "n");
    node.AddProp("a", "1");
    node.FindProp("a")->InsertCopyAfter(node.FindProp("a"), "2");
    node.AddProp("b", "3");
    FPropPair* last = node.FindProp("b");
    EXPECT_TRUE(node.RemoveProp(last));
    node.AddProp("c", "4");
    EXPECT_EQ(Describe(&node), "n a=1 a=2 c=4\n");
    while (FPropPair* p = node.GetFirstProp())
        node.RemoveProp(p);
    node.AddProp("d", "5");
    node.AddProp("e", "6");
    EXPECT_EQ(Describe(&node), "n d=5 e=6\n");
    EXPECT_EQ(node.FindProp("e")->GetPrev(), node.FindProp("d"));
}

TEST_F(FPropListTest, CloneCopiesPairsAndChildrenButNotText)
{
    FPropList* root = new FPropList(nullptr, "root");
    root->AddProp("k", "v");
    root->SetText("text");
    FPropList* a = Child(root, "a", "x", "1");
    a->SetText("inner");
    Child(a, "a1");
    Child(root, "b");
    const int before = GetPropListCount();

    FPropList* clone = root->Clone();
    EXPECT_EQ(GetPropListCount(), before + 4);
    EXPECT_EQ(Describe(clone), Describe(root));
    EXPECT_EQ(clone->GetParent(), nullptr);
    EXPECT_TRUE(clone->GetText().IsEmpty());
    EXPECT_TRUE(clone->GetFirstChild()->GetText().IsEmpty());
    clone->FindChild("a")->SetString("x", "changed"); // independent
    EXPECT_TRUE(a->GetString("x", "") == "1");

    FPropList* target = new FPropList(nullptr, "target");
    Child(target, "first");
    target->AppendChild(*a);
    EXPECT_EQ(Describe(target), "target\n  first\n  a x=1\n    a1\n");
    EXPECT_EQ(target->GetChildCount(), 2);

    target->CopyPropsFrom(*root);
    target->CopyPropsFrom(*target);
    EXPECT_EQ(Describe(target).substr(0, 20), "target k=v k=v\n  fir");

    DeletePropList(clone);
    EXPECT_EQ(clone, nullptr);
    DeletePropList(clone); // null holder: nothing
    DeletePropList(target);
    DeletePropList(root);
}

TEST_F(FPropListTest, DeletingAChildUnlinksItFromItsSiblings)
{
    FPropList* root = new FPropList(nullptr, "r");
    Child(root, "a");
    FPropList* b = Child(root, "b");
    Child(root, "c");
    delete b;
    EXPECT_EQ(Describe(root), "r\n  a\n  c\n");
    delete root->GetFirstChild();
    EXPECT_EQ(Describe(root), "r\n  c\n");
    EXPECT_EQ(root->GetFirstChild()->GetPrev(), nullptr);
    delete root;
}

TEST_F(FPropListTest, PlatformSectionsAreUnwrappedOrRemoved)
{
    FPropList* root = new FPropList(nullptr, "root");
    Child(root, "a");
    FPropList* msw = Child(root, "MSW_OS");
    Child(msw, "m1");
    FPropList* nested = Child(msw, "MSW_OS"); // moved children are not searched again
    Child(nested, "deep");
    Child(root, "b");
    FPropList* mac = Child(root, "MAC_OS");
    Child(mac, "x");
    FPropList* inner = Child(Child(root, "box"), "MAC_OS");
    Child(inner, "y");
    FPropList* empty = Child(root, "BORG_OS");
    (void)empty;

    root->UnwrapNamedDescendants("BORG_OS");
    root->UnwrapNamedDescendants("MSW_OS");
    root->RemoveNamedDescendants("MAC_OS");
    EXPECT_EQ(Describe(root), "root\n  a\n  m1\n  MSW_OS\n    deep\n  b\n  box\n");
    for (FPropList* c = root->GetFirstChild(); c != nullptr; c = c->GetNext())
        EXPECT_EQ(c->GetParent(), root);
    delete root;
}

// ---- conditional sections -------------------------------------------------------------------

TEST_F(FPropListTest, DefinesApplyToLaterSiblingsAndTheirSubtrees)
{
    FPropList* root = new FPropList(nullptr, "root");
    FPropList* early = Child(root, "xi:ifndef", "Name", "X"); // before the define: stays, unwrapped
    Child(early, "early");
    Child(root, "xi:define", "Name", "X");
    FPropList* late = Child(root, "xi:ifndef", "Name", "X"); // after it: deleted
    Child(late, "late");
    FPropList* box = Child(root, "box");
    FPropList* seen = Child(box, "xi:ifdef", "Name", "X"); // inherited into the subtree
    Child(seen, "seen");
    FPropList* outer = Child(root, "xi:ifdef", "Name", "X");
    Child(outer, "xi:define", "Name", "Y");
    FPropList* innerIf = Child(outer, "xi:ifdef", "Name", "Y"); // sees the definition made inside
    Child(innerIf, "inner");
    FPropList* leak = Child(box, "xi:ifdef", "Name", "Z"); // Z defined only later, deeper
    Child(leak, "never");
    FPropList* deeper = Child(root, "deeper");
    Child(deeper, "xi:define", "Name", "Z");
    FPropList* after = Child(root, "xi:ifdef", "Name", "Z"); // Z never reaches the outer level
    Child(after, "never2");
    FPropList* noName = Child(root, "xi:ifdef"); // without a Name: an ordinary node
    Child(noName, "kept");

    EXPECT_TRUE(FPropList::ProcessDefines(root->GetFirstChild(), {}));
    EXPECT_EQ(Describe(root), "root\n"
                              "  early\n"
                              "  xi:define Name=X\n"
                              "  box\n"
                              "    seen\n"
                              "  xi:define Name=Y\n"
                              "  inner\n"
                              "  deeper\n"
                              "    xi:define Name=Z\n"
                              "  xi:ifdef\n"
                              "    kept\n");
    delete root;
}

TEST_F(FPropListTest, InheritedNamesAndUnwrappedChildrenKeepTheirOrder)
{
    FPropList* root = new FPropList(nullptr, "root");
    FPropList* cond = Child(root, "xi:ifdef", "Name", "OUT");
    Child(cond, "one");
    FPropList* nestedIf = Child(cond, "xi:ifndef", "Name", "OUT");
    Child(nestedIf, "gone");
    Child(cond, "two");
    Child(root, "tail");
    std::vector<FWideString> defined = {FWideString("OUT")};
    FPropList::ProcessDefines(root->GetFirstChild(), defined);
    EXPECT_EQ(Describe(root), "root\n  one\n  two\n  tail\n");
    delete root;
}

// A conditional root that the caller holds is never deleted under it.
TEST_F(FPropListTest, ConditionalRootIsLeftInPlace)
{
    FPropList* root = new FPropList(nullptr, "xi:ifdef");
    root->AddProp("Name", "UNDEFINED");
    FPropList* gone = Child(root, "xi:ifdef", "Name", "UNDEFINED");
    Child(gone, "x");
    Child(root, "kept");
    FPropList::ProcessDefines(root, {});
    EXPECT_EQ(Describe(root), "xi:ifdef Name=UNDEFINED\n  kept\n");
    delete root;
}

} // namespace
