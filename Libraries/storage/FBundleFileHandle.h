#pragma once

#include "FRefCountable.h"

class FIFile;

// What a bundle folder and its open member files share: the container file,
// held open for as long as any of them lives. The count holds one reference
// for the folder and one for each member file.
class FBundleFileHandle : public FRefCountable
{
public:
    // Takes over the container (may be null).
    explicit FBundleFileHandle(FIFile* container) : m_pContainer(container) {}
    ~FBundleFileHandle() override;

    FIFile* GetContainer() const { return m_pContainer; }

private:
    FIFile* m_pContainer;
};
