#pragma once

#include <atomic>
#include <cstdint>

#include "FWideString.h"

// States of a request's status block.
enum FAsyncState : int {
    kInitialized = 0,
    kInProgress = 1, // accepted, queued or running
    kCompleted = 2,
    kCancelled = 3,
    kError = 4,
};

// Error codes of the image-processing requests; 8, 9, 11 and 12 carry texts of their own.
enum FIPMError : int {
    kErrNone = 0,
    kErrBusy = 1,
    kErrInvalid = 2,
    kErrMissingImage = 3,
    kErrUnsupported = 4,
    kErrFileIO = 5,
    kErrFileNotFound = 6,
    kErrReaderFailed = 8,
    kErrHeaderNotWritten = 9,
    kErrNoProfile = 11,
    kErrNoPreview = 12,
    kErrOutOfMemory = 13,
    kErrException = 14,
};

// The status block of every request record. A worker thread and the user-interface thread
// share it: the state word is the handshake between them, so a worker writes progress,
// error code and text first and the final state last (release), and a reader that sees a
// final state (acquire) sees everything written before it. The cancel byte goes the other
// way. The error text may only be read once the state is final.
struct FAsyncStatus {
    std::atomic<double> m_dProgress{0.0};
    std::atomic<int> m_eState{kInitialized};
    std::atomic<int> m_iErrorCode{kErrNone};
    FWideString m_usErrorText;
    std::atomic<uint8_t> m_bCancel{0};

    FAsyncStatus() = default;
    FAsyncStatus(const FAsyncStatus& other);
    // Copies progress, state, error code, error text and cancel byte, in that order.
    FAsyncStatus& operator=(const FAsyncStatus& other);

    int GetState() const { return m_eState.load(std::memory_order_acquire); }
    void SetState(int state) { m_eState.store(state, std::memory_order_release); }
    bool IsFinal() const { return GetState() >= kCompleted; }
    bool IsInProgress() const { return GetState() == kInProgress; }

    double GetProgress() const { return m_dProgress.load(std::memory_order_acquire); }
    void SetProgress(double progress) { m_dProgress.store(progress, std::memory_order_release); }

    bool IsCancelRequested() const { return m_bCancel.load(std::memory_order_acquire) != 0; }
    void RequestCancel() { m_bCancel.store(1, std::memory_order_release); }

    int GetErrorCode() const { return m_iErrorCode.load(std::memory_order_acquire); }

    // Final answers: code and text are written before the state.
    void Complete() { SetState(kCompleted); }
    void Cancel() { SetState(kCancelled); }
    void Fail(int errorCode, const FWideString& text);
    void Fail(int errorCode, const char* text = "");
};
