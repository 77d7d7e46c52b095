#include "FAsyncStatus.h"

FAsyncStatus::FAsyncStatus(const FAsyncStatus& other)
{
    *this = other;
}

FAsyncStatus& FAsyncStatus::operator=(const FAsyncStatus& other)
{
    if (this == &other)
        return *this;
    m_dProgress.store(other.m_dProgress.load(std::memory_order_acquire), std::memory_order_release);
    m_eState.store(other.m_eState.load(std::memory_order_acquire), std::memory_order_release);
    m_iErrorCode.store(other.m_iErrorCode.load(std::memory_order_acquire), std::memory_order_release);
    m_usErrorText = other.m_usErrorText;
    m_bCancel.store(other.m_bCancel.load(std::memory_order_acquire), std::memory_order_release);
    return *this;
}

void FAsyncStatus::Fail(int errorCode, const FWideString& text)
{
    m_iErrorCode.store(errorCode, std::memory_order_release);
    m_usErrorText = text;
    SetState(kError);
}

void FAsyncStatus::Fail(int errorCode, const char* text)
{
    Fail(errorCode, FWideString(text != nullptr ? text : ""));
}
