#pragma once

// A unique temporary folder (mkdtemp) for one test, deleted with its contents
// when the object ends; symbolic links inside are removed, never followed.

#include <string>

class FScopedTempFolder
{
public:
    FScopedTempFolder();
    ~FScopedTempFolder();
    FScopedTempFolder(const FScopedTempFolder&) = delete;
    FScopedTempFolder& operator=(const FScopedTempFolder&) = delete;

    // Native path, without a final slash.
    const std::string& GetPath() const { return m_path; }
    std::string Join(const std::string& name) const { return m_path + "/" + name; }
    // Writes a file (creating it) with these bytes; false on failure.
    bool WriteFile(const std::string& name, const std::string& bytes) const;
    // Reads a whole file; false when it cannot be read.
    bool ReadFile(const std::string& name, std::string& bytes) const;

private:
    std::string m_path;
};

// Sets an environment variable for one scope and restores the old value.
class FScopedEnv
{
public:
    FScopedEnv(const char* name, const std::string& value);
    ~FScopedEnv();
    FScopedEnv(const FScopedEnv&) = delete;
    FScopedEnv& operator=(const FScopedEnv&) = delete;

private:
    std::string m_name;
    std::string m_old;
    bool m_bHadValue = false;
};
