#include <chrono>
#include <condition_variable>
#include <mutex>

#include "os/FOsSync.h"

namespace
{

class EventHandle : public FOsEventHandle
{
public:
    bool Wait(int milliseconds) override
    {
        std::unique_lock<std::mutex> guard(m_lock);
        auto signalled = [this] { return m_bSignalled; };
        if (milliseconds < 0)
            m_changed.wait(guard, signalled);
        else if (!m_changed.wait_for(guard, std::chrono::milliseconds(milliseconds), signalled))
            return false;
        // Auto-reset: this waiter consumes the signal.
        m_bSignalled = false;
        return true;
    }

    void Set() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bSignalled = true;
        m_changed.notify_one();
    }

    void Reset() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bSignalled = false;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bSignalled = false;
};

} // namespace

std::unique_ptr<FOsEventHandle> OsCreateEvent()
{
    return std::make_unique<EventHandle>();
}
