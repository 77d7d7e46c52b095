#include "FUiIpObjectRequest.h"

#include "FIPMImage.h"
#include "FPropList.h"

FUiIpObjectRequest& FUiIpObjectRequest::operator=(const FUiIpObjectRequest& other)
{
    if (this == &other)
        return *this;
    m_nTag = other.m_nTag;
    m_eKind = other.m_eKind;
    m_nUserData = other.m_nUserData;
    m_Async = other.m_Async;
    m_bProgressReplies = other.m_bProgressReplies;
    m_pReturnRelay = other.m_pReturnRelay;
    return *this;
}

FUiIpObjectPropListReply::FUiIpObjectPropListReply(FUiIpObjectRequest* request, const char* nodeName,
                                                   const FPropList* source)
    : FUiIpObjectReply(request), m_pProps(new FPropList(nullptr, nodeName))
{
    if (source)
        m_pProps->CopyPropsFrom(*source);
}

FUiIpObjectPropListReply::~FUiIpObjectPropListReply()
{
    DeletePropList(m_pProps);
}

FUiIpObjectImageReply::FUiIpObjectImageReply(FUiIpObjectRequest* request, FIPMImage* image)
    : FUiIpObjectReply(request), m_pImage(image)
{
    if (m_pImage)
        m_pImage->AddRef();
}

FUiIpObjectImageReply::~FUiIpObjectImageReply()
{
    if (m_pImage)
        m_pImage->Release();
}
