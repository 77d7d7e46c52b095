#pragma once

#include "FUiObject.h"

// REPLY_REQUEST: remembers one relay given at run time and passes "Reply" and
// "Reply2" on to it.
class FUiReplyRequest : public FUiObject
{
public:
    explicit FUiReplyRequest(const char* typeName);
    ~FUiReplyRequest() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

private:
    FIUiRelay* m_pTarget = nullptr;
};
