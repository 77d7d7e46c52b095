#pragma once

// A scriptable transport and a virtual clock for device-layer tests.

#include "CamDevice.h"
#include "FCodePage.h"
#include "FWideString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

inline std::string U8(const FWideString& text)
{
    return Utf8FromWide(text);
}

// Bytes that differ from their neighbours and from other seeds' bytes.
inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 1)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed * 31 + i * 7 + (i >> 9));
    return bytes;
}

// Bytes of a register image keyed by 48-bit address; unset bytes read as 0.
class FakeTransport : public CamTransportOps
{
public:
    // Serves a transport value until this object ends; the link forgets its records first.
    void Install(int transport)
    {
        m_iInstalledAs = transport;
        CamSetTransportOps(transport, this);
    }
    ~FakeTransport() override
    {
        if (m_iInstalledAs != kCamTransportNone) {
            CamLinkShutdown();
            CamSetTransportOps(m_iInstalledAs, nullptr);
        }
    }

    static uint64_t Address(uint32_t offset, uint32_t space) { return (uint64_t(space) << 32) | offset; }

    void Put(uint32_t offset, uint32_t space, const void* data, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            m_bytes[Address(offset, space) + i] = static_cast<const uint8_t*>(data)[i];
    }
    // Stores a word with its most significant byte first, as a byte-swapped device holds it.
    void PutWordBE(uint32_t offset, uint32_t space, uint32_t value)
    {
        uint8_t b[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
        Put(offset, space, b, 4);
    }
    void AnswerProbe() { Put(kCamProbeOffset, kCamSpaceConfig, kCamProbeBytes, 4); }
    std::vector<uint8_t> Get(uint32_t offset, uint32_t space, size_t count) const
    {
        std::vector<uint8_t> out(count);
        for (size_t i = 0; i < count; ++i) {
            auto it = m_bytes.find(Address(offset, space) + i);
            out[i] = it == m_bytes.end() ? 0 : it->second;
        }
        return out;
    }

    int Count() override { return m_iCount; }
    bool IdAt(int index, std::string& id) override
    {
        if (index >= m_iCount)
            return false;
        id = m_idPrefix + std::to_string(index);
        return true;
    }
    void* Open(const std::string& id) override
    {
        ++m_iOpens;
        m_lastOpenedId = id;
        if (m_bFailOpen)
            return nullptr;
        m_bGone = false;
        return this;
    }
    void Close(void*) override { ++m_iCloses; }
    bool Read(void*, uint32_t offset, uint32_t space, void* buffer, uint32_t count) override
    {
        ++m_iReads;
        if (m_bGone || (m_failReadAt.count(Address(offset, space)) != 0))
            return false;
        auto bytes = Get(offset, space, count);
        std::memcpy(buffer, bytes.data(), count);
        return true;
    }
    bool Write(void*, uint32_t offset, uint32_t space, const void* data, uint32_t count) override
    {
        ++m_iWrites;
        if (m_bGone)
            return false;
        Put(offset, space, data, count);
        return true;
    }
    bool IsGone(void*) override { return m_bGone; }
    void Unload() override { ++m_iUnloads; }

    std::map<uint64_t, uint8_t> m_bytes;
    std::map<uint64_t, bool> m_failReadAt;
    std::string m_idPrefix = "cam";
    std::string m_lastOpenedId;
    int m_iInstalledAs = kCamTransportNone;
    int m_iCount = 0;
    int m_iOpens = 0;
    int m_iCloses = 0;
    int m_iReads = 0;
    int m_iWrites = 0;
    int m_iUnloads = 0;
    bool m_bFailOpen = false;
    bool m_bGone = false;
};

// Sleeps advance virtual time at once.
class VirtualClock
{
public:
    VirtualClock()
    {
        CamSetClockHooks({[this] { return m_dNow; },
                          [this](int ms) {
                              m_sleeps.push_back(ms);
                              m_dNow += ms / 1000.0;
                          }});
    }
    ~VirtualClock() { CamSetClockHooks({}); }
    double m_dNow = 1000;
    std::vector<int> m_sleeps;
};

// Every test starts from a fresh link and leaves none behind.
class CamLinkTest : public ::testing::Test
{
protected:
    void SetUp() override { CamLinkResetForTests(); }
    void TearDown() override { CamLinkResetForTests(); }
};
