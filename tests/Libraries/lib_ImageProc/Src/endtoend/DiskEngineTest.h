#pragma once

// Engine tests whose files live in a temporary disk folder.

#include <memory>

#include "EngineTestSupport.h"
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
