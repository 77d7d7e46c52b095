#pragma once

// PROBE: a test object that records every message it receives, with its data
// decoded by the kind the test declared for that message.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FUiObject.h"

class FIUiObjectFactory;

enum class EProbeData {
    kNone,     // only whether a pointer came
    kString,   // FWideString
    kStrings2, // two FWideString side by side
    kInt,
    kDouble,
    kBool, // one byte
};

struct FProbeRecord {
    std::string message;
    bool hadData = false;
    // Decoded data as text: "a|b" for two strings, "7", "1.5", "true".
    std::string data;
    void* pointer = nullptr;
};

class FProbeObject : public FUiObject
{
public:
    explicit FProbeObject(const char* typeName);
    ~FProbeObject() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;

    // Declares how the data of a message is read; undeclared messages keep kNone.
    void SetDataKind(const std::string& message, EProbeData kind) { m_kinds[message] = kind; }
    // Called with every record as it arrives.
    void SetOnMessage(std::function<void(const FProbeRecord&)> callback)
    {
        m_onMessage = std::move(callback);
    }
    // What UiRelayMessage answers; true unless set.
    void SetAnswer(bool answer) { m_bAnswer = answer; }

    const std::vector<FProbeRecord>& GetRecords() const { return m_records; }
    // The messages in order, joined by ",".
    std::string GetMessages() const;
    void Clear() { m_records.clear(); }

    // Every live probe, in creation order, so that tests reach probes the script made.
    static const std::vector<FProbeObject*>& GetLive();
    static FProbeObject* FindLive(const std::string& shortName);

    // A shared log across probes: "<short name>:<message>" in arrival order.
    static std::vector<std::string>& SharedLog();

private:
    std::map<std::string, EProbeData> m_kinds;
    std::vector<FProbeRecord> m_records;
    bool m_bAnswer = true;
    std::function<void(const FProbeRecord&)> m_onMessage;
};

// Registers "PROBE" with the factory.
bool RegisterProbe(FIUiObjectFactory* factory);
