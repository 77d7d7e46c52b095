#include "FIPManagerRequest.h"

#include "FIPMImage.h"
#include "FPropList.h"

FIPManagerRequest::FIPManagerRequest()
{
    m_pIPManagerData = new FPropList(nullptr, "IPManagerData");
    m_pImageProps = new FPropList(nullptr, "ImageProps");
}

FIPManagerRequest::~FIPManagerRequest()
{
    DeletePropList(m_pIPManagerData);
    DeletePropList(m_pImageProps);
    ReleaseOutputImage();
}

void FIPManagerRequest::InitParamBlock(int32_t version[4])
{
    version[0] = 1;
    version[1] = 0;
    version[2] = 0;
    version[3] = 0;
}

void FIPManagerRequest::ReleaseOutputImage()
{
    FIPMImage* image = m_pOutputImage;
    m_pOutputImage = nullptr;
    if (image != nullptr)
        image->Release();
}

void FIPManagerRequest::priResetSettings()
{
    m_usFileName.Clear();
    m_eKind = kReqNone;
    m_iOutCols = 0;
    m_iOutRows = 0;
    m_rCrop.Clear();
    m_eOutputFormat = kOutputNone;
    for (double& gain : m_adColorAdjust)
        gain = 0.0;
    for (double& neutral : m_adNeutral)
        neutral = -1.0;
    m_dExposure = m_dShadow = m_dContrast = m_dHighlight = 0.0;
    m_dSaturation = m_dSharpness = m_dFillLight = 0.0;
    m_iColorSpace = kDefaultColorSpace;
    m_usWhiteBalance.Clear();
    m_bDumpStages = 0;
    m_eFileType = kSaveNone;
    m_iJPEGQuality = kDefaultJPEGQuality;
    m_bJPEGFlag = 0;
    m_bProfileOptional = 1;
    m_usCamfile.Clear();
    m_usOutputFile.Clear();
    m_WriteRows = nullptr;
}

void FIPManagerRequest::Reset()
{
    priResetSettings();
    // A list is renewed only when one existed: a sender that dropped it keeps none.
    if (m_pImageProps != nullptr) {
        DeletePropList(m_pImageProps);
        m_pImageProps = new FPropList(nullptr, "ImageProps");
    }
    if (m_pIPManagerData != nullptr) {
        DeletePropList(m_pIPManagerData);
        m_pIPManagerData = new FPropList(nullptr, "IPManagerData");
    }
    ReleaseOutputImage();
    m_pHandlingManager = nullptr;
    m_Async.m_bCancel.store(0, std::memory_order_release);
    m_Async.m_iErrorCode.store(kErrNone, std::memory_order_release);
    m_Async.m_usErrorText.Clear();
    m_Async.SetProgress(-1.0);
    m_Async.SetState(kInitialized);
}
