#include "FUiReplyRequest.h"

#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiReplyRequestCreator final : public FUiWidgetCreator<FUiReplyRequest>
{
};

} // namespace

bool RegisterUiReplyRequest(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiReplyRequestCreator>(factory, "REPLY_REQUEST");
}

FUiReplyRequest::FUiReplyRequest(const char* typeName) : FUiObject(typeName) {}

FUiReplyRequest::~FUiReplyRequest() = default;

bool FUiReplyRequest::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

bool FUiReplyRequest::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Relay") {
        if (!data)
            return false;
        m_pTarget = static_cast<FIUiRelay*>(data);
        return true;
    }
    if (message == "Reply" || message == "Reply2")
        return m_pTarget ? m_pTarget->UiRelayMessage(message, data) : false;
    return false;
}
