#pragma once

// The records that window managers and the image file list send to the image-processing
// bridge (IP_OBJECT2) with "IpRequest", and the replies the bridge sends back with
// "IpReply". The sender owns a request and keeps it at one address until its final reply;
// a reply lives only during the call that delivers it.

#include <cstdint>

#include "FAsyncStatus.h"
#include "FRect.h"
#include "FWideString.h"
#include "ProcessingSettings.h"

class FIUiRelay;
class FIPMImage;
class FPropList;

enum FUiIpRequestKind : int {
    kUiReqProps = 0,
    kUiReqPreview = 1,
    kUiReqMark = 2,
    kUiReqLock = 3,
    kUiReqRotate = 4,
    kUiReqWhiteBal = 5,
    kUiReqAutoSet = 6,
    kUiReqProcessed = 7,
    kUiReqProcAndSave = 8,
    kUiReqCopy = 9,
    kUiReqGetGrayBalance = 10,
    kUiReqIlluminants = 11,
    kUiReqLast = kUiReqIlluminants,
};

// Every record starts with this value; the bridge refuses any other.
inline constexpr int kUiIpRequestTag = -73;

class FUiIpObjectRequest
{
public:
    virtual ~FUiIpObjectRequest() = default;
    FUiIpObjectRequest(const FUiIpObjectRequest& other) = delete;
    // The base fields only; a sender that copies a record copies the rest itself.
    FUiIpObjectRequest& operator=(const FUiIpObjectRequest& other);

    int m_nTag = kUiIpRequestTag;
    int m_eKind;
    int m_nUserData = 0; // the sender's; the bridge never touches it
    FAsyncStatus m_Async;
    bool m_bProgressReplies = false;
    FIUiRelay* m_pReturnRelay = nullptr;

protected:
    explicit FUiIpObjectRequest(int kind) : m_eKind(kind) {}
};

// Every request kind works on one file (for a copy, its source).
class FUiIpObjectFileReq : public FUiIpObjectRequest
{
public:
    FWideString m_usFileURL;

protected:
    explicit FUiIpObjectFileReq(int kind) : FUiIpObjectRequest(kind) {}
};

// Kinds 0 and 11 carry nothing else; the system sends no kind 0, but the bridge serves it.
class FUiIpObjectPropsReq : public FUiIpObjectFileReq
{
public:
    FUiIpObjectPropsReq() : FUiIpObjectFileReq(kUiReqProps) {}
};

class FUiIpObjectIlluminantsReq : public FUiIpObjectFileReq
{
public:
    FUiIpObjectIlluminantsReq() : FUiIpObjectFileReq(kUiReqIlluminants) {}
};

class FUiIpObjectAutoSetReq : public FUiIpObjectFileReq
{
public:
    FUiIpObjectAutoSetReq() : FUiIpObjectFileReq(kUiReqAutoSet) {}
};

// Kinds 2 (mark), 3 (lock) and 4 (rotate clockwise when set): one flag.
class FUiIpObjectFlagReq : public FUiIpObjectFileReq
{
public:
    explicit FUiIpObjectFlagReq(int kind) : FUiIpObjectFileReq(kind) {}
    bool m_bFlag = false;
};

class FUiIpObjectPreviewReq : public FUiIpObjectFileReq
{
public:
    FUiIpObjectPreviewReq() : FUiIpObjectFileReq(kUiReqPreview) {}
    int m_nOutCols = 0;
    int m_nOutRows = 0;
    FRect m_rCrop;
    int m_nColorSpace = 0;
};

class FUiIpObjectWhiteBalReq : public FUiIpObjectFileReq
{
public:
    FUiIpObjectWhiteBalReq() : FUiIpObjectFileReq(kUiReqWhiteBal) {}
    // "Original" restores the white balance the camera recorded.
    FWideString m_usWhiteBal;
};

class FUiIpObjectProcessedReq : public FUiIpObjectFileReq
{
public:
    FUiIpObjectProcessedReq() : FUiIpObjectFileReq(kUiReqProcessed) {}
    int m_nOutCols = 0;
    int m_nOutRows = 0;
    FRect m_rCrop;
    ProcessingSettings m_Settings;

protected:
    explicit FUiIpObjectProcessedReq(int kind) : FUiIpObjectFileReq(kind) {}
};

class FUiIpObjectProcAndSaveReq : public FUiIpObjectProcessedReq
{
public:
    FUiIpObjectProcAndSaveReq() : FUiIpObjectProcessedReq(kUiReqProcAndSave) {}
    FWideString m_usDstURL;
    int m_nSettingMode = 0;
    FWideString m_usCustomName;
    bool m_bAutoSetFirst = false;
    // The bridge's pass marker with m_bAutoSetFirst; before that, "overwrite confirmed".
    bool m_bSecondPass = false;
    bool m_bExif = false;
    bool m_bStoreSettings = false;
    int32_t m_anParams[4] = {1, 0, 0, 0};
    FWideString m_usSoftware;
    int m_bJpeg = 0;
    int m_nTiffBits = 0;
    int m_nJpegQuality = 0;
};

class FUiIpObjectCopyReq : public FUiIpObjectFileReq
{
public:
    FUiIpObjectCopyReq() : FUiIpObjectFileReq(kUiReqCopy) {}
    FWideString m_usDstURL;
    // Trash the source once the copy is complete and in place.
    bool m_bDeleteSrc = false;
};

class FUiIpObjectGetGrayBalanceReq : public FUiIpObjectFileReq
{
public:
    FUiIpObjectGetGrayBalanceReq() : FUiIpObjectFileReq(kUiReqGetGrayBalance) {}
    // In the pixel coordinates of the whole image.
    int m_nX = 0;
    int m_nY = 0;
};

// A plain reply reports progress, cancellation or failure; the request's status says which.
class FUiIpObjectReply
{
public:
    explicit FUiIpObjectReply(FUiIpObjectRequest* request) : m_pRequest(request) {}
    virtual ~FUiIpObjectReply() = default;
    FUiIpObjectReply(const FUiIpObjectReply&) = delete;
    FUiIpObjectReply& operator=(const FUiIpObjectReply&) = delete;

    FUiIpObjectRequest* m_pRequest;
};

// Kinds 0 and 11: a property node owned by the reply.
class FUiIpObjectPropListReply : public FUiIpObjectReply
{
public:
    // A node of that name holding copies of every pair of `source` (which may be null).
    FUiIpObjectPropListReply(FUiIpObjectRequest* request, const char* nodeName, const FPropList* source);
    ~FUiIpObjectPropListReply() override;

    FPropList* m_pProps = nullptr;
};

class FUiIpObjectPropsReply : public FUiIpObjectPropListReply
{
public:
    FUiIpObjectPropsReply(FUiIpObjectRequest* request, const FPropList* source)
        : FUiIpObjectPropListReply(request, "ImageProps", source)
    {
    }
};

class FUiIpObjectIlluminantsReply : public FUiIpObjectPropListReply
{
public:
    FUiIpObjectIlluminantsReply(FUiIpObjectRequest* request, const FPropList* source)
        : FUiIpObjectPropListReply(request, "IlluminantsProps", source)
    {
    }
};

// Kinds 1 and 7: one reference on the image, given back with the reply. A receiver that
// keeps the image takes its own reference during the call.
class FUiIpObjectImageReply : public FUiIpObjectReply
{
public:
    FUiIpObjectImageReply(FUiIpObjectRequest* request, FIPMImage* image);
    ~FUiIpObjectImageReply() override;

    FIPMImage* m_pImage = nullptr;
};

class FUiIpObjectPreviewReply : public FUiIpObjectImageReply
{
public:
    using FUiIpObjectImageReply::FUiIpObjectImageReply;
};

// The image's histogram is computed before the reply goes out.
class FUiIpObjectProcessedReply : public FUiIpObjectImageReply
{
public:
    using FUiIpObjectImageReply::FUiIpObjectImageReply;
};

class FUiIpObjectMarkReply : public FUiIpObjectReply
{
public:
    FUiIpObjectMarkReply(FUiIpObjectRequest* request, bool value) : FUiIpObjectReply(request), m_bValue(value)
    {
    }
    bool m_bValue;
};

class FUiIpObjectLockReply : public FUiIpObjectReply
{
public:
    FUiIpObjectLockReply(FUiIpObjectRequest* request, bool value) : FUiIpObjectReply(request), m_bValue(value)
    {
    }
    bool m_bValue;
};

class FUiIpObjectRotateReply : public FUiIpObjectReply
{
public:
    using FUiIpObjectReply::FUiIpObjectReply;
};

class FUiIpObjectWhiteBalReply : public FUiIpObjectReply
{
public:
    using FUiIpObjectReply::FUiIpObjectReply;
};

class FUiIpObjectAutoSetReply : public FUiIpObjectReply
{
public:
    using FUiIpObjectReply::FUiIpObjectReply;
    // The automatic values; colour space 2.
    ProcessingSettings m_Settings;
};

class FUiIpObjectProcAndSaveReply : public FUiIpObjectReply
{
public:
    FUiIpObjectProcAndSaveReply(FUiIpObjectRequest* request, const FWideString& outURL)
        : FUiIpObjectReply(request), m_usOutURL(outURL)
    {
    }
    FWideString m_usOutURL;
};

class FUiIpObjectCopyReply : public FUiIpObjectReply
{
public:
    FUiIpObjectCopyReply(FUiIpObjectRequest* request, const FWideString& dstURL)
        : FUiIpObjectReply(request), m_usDstURL(dstURL)
    {
    }
    FWideString m_usDstURL;
};

class FUiIpObjectGetGrayBalanceReply : public FUiIpObjectReply
{
public:
    using FUiIpObjectReply::FUiIpObjectReply;
    // Red, green, blue.
    double m_adGains[3] = {0.0, 0.0, 0.0};
};
