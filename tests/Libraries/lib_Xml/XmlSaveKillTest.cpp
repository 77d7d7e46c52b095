// A save killed between any two of its storage steps, on the disk, leaves the
// old or the new contents readable under the file's name.
#include "FDelegatingFile.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "FXmlWriter.h"
#include "XmlTestSupport.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// Counts the storage steps of the process; the one numbered s_killAt never runs.
int s_step = 0;
int s_killAt = -1;

void Step()
{
    if (s_step++ == s_killAt)
        raise(SIGKILL);
}

class StepFile : public FDelegatingFile
{
public:
    using FDelegatingFile::FDelegatingFile;
    void Write(const void* buffer, int n) override
    {
        Step();
        FDelegatingFile::Write(buffer, n);
    }
    void Flush() override
    {
        Step();
        FDelegatingFile::Flush();
    }
    void SetSize(uint64_t size) override
    {
        Step();
        FDelegatingFile::SetSize(size);
    }
};

class StepFolder : public FIFolder
{
public:
    explicit StepFolder(FIFolder* inner) : m_pInner(inner) {}
    ~StepFolder() override { m_pInner->Release(); }
    FIFolder* OpenSubFolder(const FWideString& name, bool create) override
    {
        return m_pInner->OpenSubFolder(name, create);
    }
    FIFile* OpenFile(const FWideString& name, int mode) override
    {
        if (mode & kFileWrite)
            Step();
        FIFile* file = m_pInner->OpenFile(name, mode);
        return file ? new StepFile(file) : nullptr;
    }
    void ListFiles(std::vector<FWideString>& names) override { m_pInner->ListFiles(names); }
    void ListFolders(std::vector<FWideString>& names) override { m_pInner->ListFolders(names); }
    void Rename(const FWideString& oldName, const FWideString& newName) override
    {
        Step();
        m_pInner->Rename(oldName, newName);
    }
    bool DeleteFile(const FWideString& name) override
    {
        Step();
        return m_pInner->DeleteFile(name);
    }
    void DeleteFolder(const FWideString& url, int mode) override { m_pInner->DeleteFolder(url, mode); }
    FWideString GetURL() override { return m_pInner->GetURL(); }
    FWideString GetNote() override { return m_pInner->GetNote(); }
    void SetTag(int tag) override { m_pInner->SetTag(tag); }
    int64_t GetFreeSpace() override { return m_pInner->GetFreeSpace(); }
    bool IsReadOnly() override { return m_pInner->IsReadOnly(); }
    bool GetAttributes(int& flags) override { return m_pInner->GetAttributes(flags); }
    int GetDriveType() override { return m_pInner->GetDriveType(); }
    bool Exists(const FWideString& name, bool* isFolder) override { return m_pInner->Exists(name, isFolder); }
    FIFile* CreateTempFile(const FWideString& prefix, FWideString& name) override
    {
        Step();
        FIFile* file = m_pInner->CreateTempFile(prefix, name);
        return file ? new StepFile(file) : nullptr;
    }
    void ReplaceFile(const FWideString& from, const FWideString& to) override
    {
        Step();
        m_pInner->ReplaceFile(from, to);
    }

private:
    FIFolder* m_pInner;
};

FIFolder* OpenDiskFolder(const FScopedTempFolder& temp)
{
    FWideString path;
    if (FindStorageClass(FWideString("disk"), path) == nullptr)
        RegisterDiskStorageClass();
    FWideString url;
    FWideString fileName;
    if (!NativePathToURL(WideFromUtf8(temp.GetPath()), url))
        return nullptr;
    return OpenFolderURL(url, fileName, false);
}

} // namespace

TEST(XmlSaveKill, EveryStepLeavesTheOldOrTheNewContents)
{
    FScopedTempFolder temp;
    FIFolder* folder = OpenDiskFolder(temp);
    ASSERT_NE(folder, nullptr);
    FPropList oldTree(nullptr, "State");
    oldTree.AddProp("v", "old");
    FPropList newTree(nullptr, "State");
    for (int i = 0; i < 4; ++i)
        new FPropList(&newTree, "Entry");
    newTree.AddProp("v", "new");

    bool completed = false;
    int step = 0;
    for (; !completed && step < 100; ++step) {
        SCOPED_TRACE(step);
        ASSERT_TRUE(WritePropListXml(&oldTree, folder, FWideString("state.xml")));
        // Left by an older kind of save: must not be lost before the new file is in place.
        ASSERT_TRUE(temp.WriteFile("state.xml.bak", "stale"));
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            s_killAt = step;
            StepFolder* stepping = new StepFolder(OpenDiskFolder(temp));
            const bool saved = WritePropListXml(&newTree, stepping, FWideString("state.xml"));
            stepping->Release();
            _exit(saved ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        completed = WIFEXITED(status);
        if (completed) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
        } else {
            EXPECT_EQ(WTERMSIG(status), SIGKILL);
        }
        FXmlParser parser;
        std::unique_ptr<FPropList> root(parser.ParseFile(folder, FWideString("state.xml")));
        ASSERT_TRUE(root) << Narrow(parser.GetErrors());
        const std::string now = Dump(root.get());
        EXPECT_TRUE(now == Dump(&oldTree) || now == Dump(&newTree)) << now;
        if (completed) {
            EXPECT_EQ(now, Dump(&newTree));
        }
        // A temporary file may be left by a kill; the next save is unaffected.
    }
    EXPECT_TRUE(completed);
    EXPECT_GT(step, 6);
    folder->Release();
}
