#pragma once

// A stand-in for the manager that the save and preview managers send their properties and
// processed-image requests to: it answers from a property table and paints every processed
// image with a pattern of the absolute output position, so that strips can be checked
// against one another and against a whole image.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FRect.h"

class FPixmap;

struct FSubRequestRecord {
    int m_eKind = 0;
    int m_eOutputFormat = 0;
    int m_iColorSpace = 0;
    int m_iOutCols = 0;
    int m_iOutRows = 0;
    FRect m_rCrop;
};

class FFakeParentManager : public FIPManager
{
public:
    // Properties answered for every file.
    std::vector<std::pair<std::string, std::string>> m_props = {{"COLS", "640"}, {"ROWS", "480"}};
    // Processed requests answered before the next one fails (-1: never).
    int m_iFailAfter = -1;
    int m_iFailState = kError;
    // Answers on the next Idle instead of at once.
    bool m_bDeferred = false;
    // Completes a strip one row shorter than asked.
    bool m_bShortStrips = false;
    std::vector<FSubRequestRecord> m_requests;

    bool IsBusy() override { return !m_pending.empty(); }
    void Idle() override;
    void Request(FIPManagerRequest* request) override;

    // Rows per call of a streamed request's sink.
    static constexpr int kStreamChunk = 37;
    // The pattern value of a channel at an output position, for 8 and 16 bits.
    static uint8_t Value8(int x, int y, int c) { return uint8_t(x + 2 * y + 60 * c); }
    static uint16_t Value16(int x, int y, int c) { return uint16_t(x * 7 + y * 131 + c * 5000); }

private:
    void priAnswer(FIPManagerRequest* request);
    std::vector<FIPManagerRequest*> m_pending;
    int m_iProcessed = 0;
};

// Ticks the parent and the manager until the request is final or 10 s passed.
bool RunSubManager(FIPManager& manager, FFakeParentManager& parent, FIPManagerRequest& request);
