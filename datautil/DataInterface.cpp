#include "datautil/DataInterface.h"

CVRNiDataInterface::~CVRNiDataInterface() = default;

CiDataInterchange* CVRNiDataInterface::GetPrototypeInterchange() {
    return GetDataInterchange(true);
}

void CVRNiDataInterface::SetInterchange(CiDataInterchange* src) {
    CiDataInterchange* own = GetDataInterchange(false);
    if (own == nullptr)
        return;
    own->AddRef();
    if (src != nullptr)
        own->Attach(src);
    else
        own->ResetRef(false);
    own->Release();
}

void CVRNiDataInterface::Attach(CVRNiDataInterface* other) {
    if (other == nullptr) {
        SetInterchange(nullptr);
        return;
    }
    CiDataInterchange* ic = other->GetDataInterchange(false);
    if (ic != nullptr)
        ic->AddRef();
    SetInterchange(ic);
    if (ic != nullptr)
        ic->Release();
}

void CVRNiUpdateImportedHdr::UpdateHdr(CDblHdr& h, CiDataInterchange* ic, const char* path, int& maxSize) {
    if (ic == nullptr)
        return;
    CiDataInterchangeBase* node = ic->GetByPath(path);
    if (node == nullptr)
        return;
    CiDataHdrsInterchange* hdrs = node->GetHdrsInterchange();
    if (hdrs == nullptr)
        return;
    CBaseHdr* base = (*hdrs)[0];
    if (base == nullptr)
        return;
    CDblHdr* first = base->GetDblHdr();
    if (first == nullptr)
        return;
    h = *first;
    h.SetUnitType(first->GetAtomString());
    if (h.GetSize() > maxSize)
        maxSize = h.GetSize();
}
