#pragma once

#include "FIOsNetEnumerator.h"
#include "FNullFolder.h"

// The list of servers of the network ("Network" under the disk class).
class FSCNetEnumFolderWin : public FNullFolder
{
public:
    explicit FSCNetEnumFolderWin(const FWideString& className);

    void ListFolders(std::vector<FWideString>& names) override;
    FIFolder* OpenSubFolder(const FWideString& name, bool create) override;
    FWideString GetURL() override { return m_className; }
    FWideString GetNote() override { return FWideString(); }
    void SetTag(int tag) override { m_iTag = tag; }
    int64_t GetFreeSpace() override { return 1; }
    bool IsReadOnly() override { return true; }
    bool GetAttributes(int& flags) override;
    int GetDriveType() override { return kDriveRemote; }
    bool Exists(const FWideString& name, bool* isFolder) override;

private:
    void priEnumServers();
    void priWalk(FIOsNetEnumerator& enumerator, const FNetResource* container, int depth);

    FWideString m_className;
    int m_iTag = 0;
    std::vector<FWideString> m_servers;
    bool m_bEnumerated = false;
};

// The shares of one server.
class FSCNetShareEnumFolderWin : public FNullFolder
{
public:
    FSCNetShareEnumFolderWin(const FWideString& className, const FWideString& serverName);

    void ListFolders(std::vector<FWideString>& names) override;
    FIFolder* OpenSubFolder(const FWideString& name, bool create) override;
    FWideString GetURL() override { return m_className; }
    FWideString GetNote() override { return FWideString(); }
    void SetTag(int tag) override { m_iTag = tag; }
    int64_t GetFreeSpace() override { return -1; }
    bool IsReadOnly() override { return true; }
    bool GetAttributes(int& flags) override;
    int GetDriveType() override { return kDriveRemote; }
    bool Exists(const FWideString& name, bool* isFolder) override;

private:
    void priEnumShares();

    FWideString m_className;
    FWideString m_serverName;
    bool m_bResolved = false;
    FWideString m_remoteName;
    int m_iTag = 0;
    std::vector<FWideString> m_shares;
    std::vector<FWideString> m_shareLocalPaths;
    bool m_bEnumerated = false;
};

// Where the share \\server\share is reachable in the file system; false when it is not.
bool FindNetShareLocalPath(const FWideString& server, const FWideString& share, FWideString& localPath);
