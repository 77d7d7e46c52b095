#include "FakeParentManager.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "EngineTestSupport.h"
#include "FCache.h"
#include "FException.h"
#include "FIPMImage.h"
#include "FPixmap.h"
#include "FPropList.h"

void FFakeParentManager::Request(FIPManagerRequest* request)
{
    FSubRequestRecord record;
    record.m_eKind = request->m_eKind;
    record.m_eOutputFormat = request->m_eOutputFormat;
    record.m_iColorSpace = request->m_iColorSpace;
    record.m_iOutCols = request->m_iOutCols;
    record.m_iOutRows = request->m_iOutRows;
    record.m_rCrop = request->m_rCrop;
    m_requests.push_back(record);
    request->m_Async.SetState(kInProgress);
    request->m_Async.SetProgress(0.0);
    if (m_bDeferred)
        m_pending.push_back(request);
    else
        priAnswer(request);
}

void FFakeParentManager::Idle()
{
    std::vector<FIPManagerRequest*> pending;
    pending.swap(m_pending);
    for (FIPManagerRequest* request : pending)
        priAnswer(request);
}

void FFakeParentManager::priAnswer(FIPManagerRequest* request)
{
    if (request->m_Async.IsCancelRequested()) {
        request->m_Async.Cancel();
        return;
    }
    if (request->m_eKind == kReqProperties) {
        for (const auto& [name, value] : m_props)
            request->m_pImageProps->AddProp(name.c_str(), value.c_str());
        request->m_Async.Complete();
        return;
    }
    if (request->m_eKind != kReqProcessed) {
        request->m_Async.Fail(kErrUnsupported);
        return;
    }
    if (m_iFailAfter >= 0 && m_iProcessed >= m_iFailAfter) {
        request->m_Async.Fail(kErrFileIO, "fake failure");
        if (m_iFailState == kCancelled)
            request->m_Async.Cancel();
        return;
    }
    ++m_iProcessed;
    const FRect crop = request->m_rCrop;
    const int type = request->m_eOutputFormat == kRGB48   ? FPixmap::PIXEL_48_RGB
                     : request->m_eOutputFormat == kRGB24 ? FPixmap::PIXEL_24_RGB
                                                          : FPixmap::PIXEL_32_BGRA;
    const int rows = crop.Height() - (m_bShortStrips && request->m_iOutCols != 160 ? 1 : 0);
    static std::atomic<int> counter{0};
    FWideString label;
    label.Format("fake-processed-%d", counter++);
    FCacheObject* object = FIPMCommon::AllocCacheImage(label.GetBuffer(), type, crop.Width(), rows);
    FPixmap* pixmap = FIPMCommon::GetStageImageRecord(object)->m_pPixmap;
    for (int y = 0; y < rows; ++y) {
        uint8_t* row = pixmap->GetRowAddress(y);
        for (int x = 0; x < crop.Width(); ++x) {
            for (int c = 0; c < 3; ++c) {
                if (type == FPixmap::PIXEL_48_RGB)
                    reinterpret_cast<uint16_t*>(row)[3 * x + c] = Value16(crop.left + x, crop.top + y, c);
                else if (type == FPixmap::PIXEL_24_RGB)
                    row[3 * x + c] = Value8(crop.left + x, crop.top + y, c);
                else
                    row[4 * x + 2 - c] = Value8(crop.left + x, crop.top + y, c);
            }
            if (type == FPixmap::PIXEL_32_BGRA)
                row[4 * x + 3] = 255;
        }
    }
    if (request->m_WriteRows) {
        // A streaming parent: the rows in uneven chunks, no image.
        const int bytes = GetPixelTypeBytesPerPixel(type);
        try {
            for (int y = 0; y < rows; y += kStreamChunk) {
                const int n = std::min(kStreamChunk, rows - y);
                const std::unique_ptr<FPixmap> chunk(
                    NewFPixmap(type, pixmap->GetRowAddress(y), crop.Width(), n, crop.Width() * bytes));
                request->m_WriteRows(*chunk);
            }
        } catch (const FException& e) {
            object->Release();
            request->m_Async.Fail(kErrException, e.GetMessage());
            return;
        }
        object->Release();
        request->m_Async.Complete();
        return;
    }
    request->ReleaseOutputImage();
    request->m_pOutputImage = new FIPMCommon::Image(object);
    object->Release();
    request->m_Async.SetProgress(1.0);
    request->m_Async.Complete();
}

bool RunSubManager(FIPManager& manager, FFakeParentManager& parent, FIPManagerRequest& request)
{
    return TickUntil([&] { return !request.m_Async.IsInProgress(); },
                     [&] {
                         parent.Idle();
                         manager.Idle();
                     },
                     std::chrono::seconds(10));
}
