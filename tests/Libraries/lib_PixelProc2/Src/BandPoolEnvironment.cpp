#include <gtest/gtest.h>

#include <memory>

#include "FBandPool.h"
#include "RunInRowBands.h"

namespace
{

// The kernels' bands run on a pool of their own here, as they do under the engine, so a
// test at several thread counts runs its bands at once.
class BandPoolEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        m_pool = std::make_unique<FBandPool>(3);
        SetRowBandPool(m_pool.get());
    }
    void TearDown() override
    {
        SetRowBandPool(nullptr);
        m_pool.reset();
    }

private:
    std::unique_ptr<FBandPool> m_pool;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new BandPoolEnvironment);

} // namespace
