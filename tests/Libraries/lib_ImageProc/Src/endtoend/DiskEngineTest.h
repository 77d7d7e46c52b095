#pragma once

// Engine tests whose files live in a temporary disk folder.

#include <cstddef>
#include <memory>

#include "EngineTestSupport.h"
#include "FLargePageAllocator.h"
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

// For tests that let developments size the page store's budget: it is put back
// afterwards, so that later tests start from the program's default.
class KeptMemoryEngineTest : public DiskEngineTest
{
protected:
    void SetUp() override
    {
        DiskEngineTest::SetUp();
        m_uBudget = GetLargePageBudget();
    }
    void TearDown() override
    {
        SetLargePageBudget(m_uBudget);
        DiskEngineTest::TearDown();
    }

private:
    size_t m_uBudget = 0;
};
