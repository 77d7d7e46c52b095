#pragma once

// Engine tests whose files live in a temporary disk folder.

#include <cstddef>
#include <memory>

#include "EngineTestSupport.h"
#include "FMemoryAllocator.h"
#include "RawTestFolder.h"

class DiskEngineTest : public FEngineTest
{
protected:
    void SetUp() override
    {
        FEngineTest::SetUp();
        rawtest::EnsureDiskStorageClass();
        m_pFolder = std::make_unique<rawtest::RawTestFolder>();
    }
    void TearDown() override
    {
        m_pFolder.reset();
        FEngineTest::TearDown();
    }

    std::unique_ptr<rawtest::RawTestFolder> m_pFolder;
};

// For tests that let developments size the allocator's kept memory: the limit is put back
// afterwards, so that later tests start from the program's default.
class KeptMemoryEngineTest : public DiskEngineTest
{
protected:
    void SetUp() override
    {
        DiskEngineTest::SetUp();
        m_uRetained = GetRetainedMemoryLimit();
    }
    void TearDown() override
    {
        SetRetainedMemoryLimit(m_uRetained);
        DiskEngineTest::TearDown();
    }

private:
    size_t m_uRetained = 0;
};
