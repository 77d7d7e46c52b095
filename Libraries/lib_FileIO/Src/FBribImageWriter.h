#pragma once

// Rewrites the user-editable fields of a raw container's header in place (mark
// bits, rotation, white-balance label, extended-data slots); only headers of
// version "1.0" and 2.x can be written. Each setter flushes its bytes and
// leaves the file position as it was.
//
// A field's update is all or nothing: its old bytes are kept in an undo record
// beside the file from before the field is written until it is synced. A record left by an interrupted update
// is rolled back when the file is next opened by this writer or by the reader. The file's length never
// changes.

#include <cstdint>
#include <memory>
#include <utility>

class FBribImageWriterImpl;
class FWideString;

class FBribImageWriter
{
public:
    // update: open an existing container (never creates one); otherwise create a
    // new file holding only a fresh 2.2 header of the given size (columns, rows),
    // which replaces a file of that name only once it is complete.
    FBribImageWriter(const char16_t* url, const std::pair<int, int>* size, bool update);
    ~FBribImageWriter();
    FBribImageWriter(const FBribImageWriter&) = delete;
    FBribImageWriter& operator=(const FBribImageWriter&) = delete;

    uint32_t GetRotation() const;
    void SetRotation(uint32_t degrees);
    void SetMarkBits(uint32_t bits);
    // False, nothing written, for 32 characters or more or before version 2.1.
    bool SetWBLabel(const char* label);
    int GetExtDataCount() const;
    int GetExtDataType(int slot) const;
    bool SetExtDataType(int slot, int type);
    // The bits of a single-precision float.
    bool SetExtDataValue(int slot, uint32_t value);

private:
    static void priCreate(const FWideString& url, const std::pair<int, int>* size);

    std::unique_ptr<FBribImageWriterImpl> m_pImpl;
};

// The undo record of the file at url: a hidden name of fixed length made from
// a hash of the file's name, so a name at the file system's length limit still
// has one.
FWideString BribUndoURL(const FWideString& url);
// "<url>.undo", where older builds kept the record; still rolled back.
FWideString BribLegacyUndoURL(const FWideString& url);
// Rolls back an interrupted field update of the file at url, if one was left;
// false when a record is left that could not be applied. Never throws.
bool RecoverBribHeaderUpdate(const FWideString& url);
