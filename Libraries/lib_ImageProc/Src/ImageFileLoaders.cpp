// The JPEG and TIFF loaders: one pattern, two readers.

#include "FLoaderMailbox.h"

#include "BribHeaderEdits.h"
#include "FPictureTurns.h"
#include "PictureOrientation.h"

#include "FDebugTrace.h"
#include "FException.h"
#include "FJPEGImageReader.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FTiffImageReader.h"

#include <cstdio>

namespace
{

struct JPEGTraits {
    using Reader = FJPEGImageReader;
    using IndexOutOfRange = FExceptionJPEGIndexOutOfRange;
    using Interface = FIJPEGLoader;
    static constexpr const char* kName = "JPEGLoader";
    static constexpr bool kIsJPEG = true;
    static constexpr int kMaxReduction = 3;
    static bool IsFamily(const FException& e) { return dynamic_cast<const FExceptionJPEG*>(&e) != nullptr; }
};

struct TiffTraits {
    using Reader = FTiffImageReader;
    using IndexOutOfRange = FExceptionTIFFIndexOutOfRange;
    using Interface = FITiffLoader;
    static constexpr const char* kName = "TiffLoader";
    static constexpr bool kIsJPEG = false;
    static constexpr int kMaxReduction = 4;
    static bool IsFamily(const FException& e) { return dynamic_cast<const FExceptionTIFF*>(&e) != nullptr; }
};

template <class Traits>
class TImageFileLoader final : public TMailboxLoader<typename Traits::Interface>
{
public:
    TImageFileLoader() : TMailboxLoader<typename Traits::Interface>(Traits::kName, &HandleRequest) {}

    void Request(FLoaderRequest* req) override
    {
        this->Idle();
        constexpr bool jpeg = Traits::kIsJPEG;
        switch (req->m_eType) {
        case kLoaderImageCount:
            if (jpeg) {
                // The reductions 0 to 3; the file is not opened.
                req->m_iArg = Traits::kMaxReduction + 1;
                req->m_Async.Complete();
                return;
            }
            break;
        case kLoaderImage:
            if (req->m_pTarget) {
                this->m_mailbox.Post(*req);
                return;
            }
            break;
        case kLoaderCamfile:
            if (jpeg) {
                priRefuse(*req, ":Request - jpegs don't have camfiles.");
                return;
            }
            break;
        case kLoaderProperties:
        case kLoaderModify:
        case kLoaderUniqueID:
            break;
        default:
            priRefuse(*req, ":Request - invalid request.");
            return;
        }
        HandleRequest(*req);
    }

private:
    ~TImageFileLoader() override = default;

    static void priRefuse(FLoaderRequest& req, const char* text)
    {
        FailNamed(req.m_Async, kErrInvalid, Traits::kName, text);
    }

    static void HandleRequest(FLoaderRequest& req)
    {
        StartRequest(req.m_Async);
        HandleGuarded(req, Traits::kName, &Traits::IsFamily, [&req] {
            typename Traits::Reader reader(req.m_usFileURL);
            switch (req.m_eType) {
            case kLoaderImageCount:
                req.m_iArg = Traits::kMaxReduction + 1;
                req.m_Async.Complete();
                return;
            case kLoaderImage:
                LoadImage(reader, req);
                return;
            case kLoaderCamfile:
                // A TIFF file has no camera data: opened, nothing delivered.
                req.m_Async.Complete();
                return;
            case kLoaderProperties:
                priGetProperties(reader, req);
                return;
            case kLoaderModify:
                priTurn(reader, req);
                return;
            case kLoaderUniqueID:
                AddFileUniqueID(req, Traits::kName);
                return;
            default:
                priRefuse(req, ":HandleRequest - invalid request.");
                return;
            }
        });
    }

    static void LoadImage(typename Traits::Reader& reader, FLoaderRequest& req)
    {
        const intptr_t index = req.m_iArg;
        try {
            reader.SetScale(index >= 1 && index <= Traits::kMaxReduction ? int(index) : 0);
            int cols = 0;
            int rows = 0;
            int type = 0;
            reader.GetDimensions(cols, rows, type);
            req.m_iColumns = cols;
            req.m_iRows = rows;
            req.m_iPixelType = type;
            req.m_iImageKind = kImageKindPreview;
            if (req.m_pTarget) {
                if constexpr (Traits::kIsJPEG)
                    reader.SetBudget(req.m_bPreview ? kJPEGPreviewBudget : kJPEGPictureBudget,
                                     CancelByte(req.m_Async));
                else
                    reader.SetCancel(CancelByte(req.m_Async));
                try {
                    reader.ReadImage(*req.m_pTarget);
                } catch (const FException& e) {
                    if (reader.Cancelled()) {
                        req.m_Async.Cancel();
                        return;
                    }
                    if (req.m_bPreview)
                        DebugTrace("%s: no preview of '%s': %s\n", Traits::kName, req.m_usFileURL.GetNarrow(),
                                   e.GetMessage());
                    throw;
                }
                // A picture with gray where its end is missing must not pass for the picture.
                if constexpr (Traits::kIsJPEG)
                    if (reader.EndedEarly())
                        throw FExceptionJPEG("the file ends before its image does");
            }
            req.m_Async.Complete();
        } catch (const typename Traits::IndexOutOfRange&) {
            char text[64];
            std::snprintf(text, sizeof(text), ":LoadImage index %d", int(index));
            priRefuse(req, text);
        }
    }

    static void priGetProperties(typename Traits::Reader& reader, FLoaderRequest& req)
    {
        FPropList* list = req.GetList();
        if (!list) {
            priRefuse(req, ": Property list pointer is NULL");
            return;
        }
        reader.SetScale(0);
        int cols = 0;
        int rows = 0;
        int type = 0;
        reader.GetDimensions(cols, rows, type);
        req.m_iColumns = cols;
        req.m_iRows = rows;
        reader.GetProperties(list);
        if (Traits::kIsJPEG) {
            char number[16];
            std::snprintf(number, sizeof(number), "%d", cols);
            list->AddProp("COLS", number);
            std::snprintf(number, sizeof(number), "%d", rows);
            list->AddProp("ROWS", number);
        }
        list->AddProp("PROCESSABLE", "0");
        FWideString id;
        if (!GetFileUniqueID(req, Traits::kName, id))
            return;
        // Shown as the camera held it and as the user turned it since: sizes as shown.
        const FPictureOrientation shown = priShownOrientation(*list, req.m_usFileURL, id);
        list->SetInt(FWideString("ROTATION"), shown.m_iRotation);
        list->SetInt(FWideString("MIRROR"), shown.m_bMirror ? 1 : 0);
        if (shown.m_iRotation == 90 || shown.m_iRotation == 270) {
            list->SetInt(FWideString("COLS"), rows);
            list->SetInt(FWideString("ROWS"), cols);
        }
        list->AddProp(FWideString("UNIQUEID"), id);
        req.m_Async.Complete();
    }

    static FPictureOrientation priShownOrientation(const FPropList& props, const FWideString& url,
                                                   const FWideString& id)
    {
        FPictureOrientation shown = OrientationOfExif(props.GetInt(FWideString("ORIENTATION"), 1));
        shown.m_iRotation = QuarterTurnOf(shown.m_iRotation + GetPictureTurn(url, id));
        return shown;
    }

    // The user's rotate commands: "ROTATION" as for a raw file ("+90", "-90" or degrees),
    // kept beside the picture, never written into it.
    static void priTurn(typename Traits::Reader& reader, FLoaderRequest& req)
    {
        const FPropList* changes = req.GetList();
        bool found = false;
        const FWideString change =
            changes ? changes->GetString(FWideString("ROTATION"), FWideString(), &found) : FWideString();
        if (!found) {
            priRefuse(req, ":HandleRequest - invalid request.");
            return;
        }
        FWideString id;
        if (!GetFileUniqueID(req, Traits::kName, id))
            return;
        FPropList props(nullptr, "Props");
        reader.GetProperties(&props);
        const int camera = OrientationOfExif(props.GetInt(FWideString("ORIENTATION"), 1)).m_iRotation;
        const unsigned shown = unsigned(QuarterTurnOf(camera + GetPictureTurn(req.m_usFileURL, id)));
        const int wanted = int(ResolveRotationChange(change.GetNarrow(), shown));
        if (!SetPictureTurn(req.m_usFileURL, id, wanted - camera)) {
            FWideString text(Traits::kName);
            text += "::Modify: the turn of ";
            text += req.m_usFileURL;
            text += " could not be kept";
            req.m_Async.Fail(kErrHeaderNotWritten, text);
            return;
        }
        req.m_Async.Complete();
    }
};

} // namespace

FILoader* CreateJPEGLoader()
{
    return NewLoader<TImageFileLoader<JPEGTraits>>();
}

FILoader* CreateTiffLoader()
{
    return NewLoader<TImageFileLoader<TiffTraits>>();
}
