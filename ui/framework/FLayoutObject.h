#pragma once

// Layout record of one axis of an object: what a box needs to place it.
class FLayoutObject
{
public:
    void Reset()
    {
        m_iPosition = 0;
        m_bSizeSet = false;
        m_iWeight = m_iStretch;
    }
    // Writes the size only when the record is fixed.
    bool GetFixedSize(int& size) const
    {
        if (m_bFixed)
            size = m_iSize;
        return m_bFixed;
    }
    bool IsSizeSet() const { return m_bSizeSet; }
    void SetSize(int size)
    {
        m_iSize = size;
        m_bSizeSet = true;
    }
    int GetStretch() const { return m_iStretch; }
    void SetStretch(int stretch) { m_iStretch = stretch; }
    int GetWeight() const { return m_iWeight; }
    void SetWeight(int weight) { m_iWeight = weight; }
    int GetMinSize() const { return m_iMinSize; }
    int GetSize() const { return m_iSize; }
    void SetPosition(int position) { m_iPosition = position; }
    int GetPosition() const { return m_iPosition; }
    bool HasMaxSize() const { return m_bHasMaxSize; }
    int GetMaxSize() const { return m_iMaxSize; }
    void SetMaxSize(int size)
    {
        m_iMaxSize = size;
        m_bHasMaxSize = true;
    }

    // Widgets set these straight from their script keys.
    bool m_bFixed = true;
    int m_iMinSize = 5;
    bool m_bHasMaxSize = false;
    int m_iMaxSize = 0;
    int m_iStretch = 0;
    // Thousandths of the parent box's length while a box lays out.
    int m_iWeight = 0;
    bool m_bSizeSet = false;
    int m_iSize = 5;
    int m_iPosition = 0;
};
