#include "FTestDisplayImage.h"

FTestDisplayImage::FTestDisplayImage(int cols, int rows, uint8_t value)
    : m_pixels(size_t(cols) * size_t(rows) * 4 + kSlack, value),
      m_pixmap(m_pixels.data(), cols, rows, cols * 4)
{
}

uint32_t FTestDisplayImage::Release()
{
    const uint32_t left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}
