#include "host/data/Interchange.h"

#include <cstring>
#include <string>

int CMacroRef::Release() {
    if (m_nRef <= 1) {
        m_nRef = 0;
        delete this;
        return 0;
    }
    return --m_nRef;
}

// ---------------------------------------------------------------- CiDataInterchangeBase

CiDataInterchangeBase::CiDataInterchangeBase(const char* name, bool bPrototype)
    : m_Name(name), m_bPrototype(bPrototype) {}

CiDataInterchangeBase::~CiDataInterchangeBase() {
    if (m_pAttached)
        m_pAttached->Release();
}

void CiDataInterchangeBase::Attach(CiDataInterchangeBase* src) {
    if (!src || src == m_pAttached || src->Reaches(this))
        return;
    src->AddRef();
    CiDataInterchangeBase* old = m_pAttached;
    m_pAttached = src;
    if (old)
        old->Release();
}

void CiDataInterchangeBase::ResetRef(bool /*bDeep*/) {
    CiDataInterchangeBase* old = m_pAttached;
    m_pAttached = nullptr;
    if (old)
        old->Release();
}

bool CiDataInterchangeBase::Reaches(const CiDataInterchangeBase* target) const {
    if (target == this)
        return true;
    return m_pAttached && m_pAttached->Reaches(target);
}

// ---------------------------------------------------------------- CiDataInterchange

CiDataInterchange::CiDataInterchange(const char* name, bool bPrototype)
    : CiDataInterchangeBase(name, bPrototype) {}

CiDataInterchange::~CiDataInterchange() {
    for (CiDataInterchangeBase* child : m_Children)
        child->Release();
}

int CiDataInterchange::AddBaseItem(CiDataInterchangeBase* child) {
    if (!child || child->Reaches(this))
        return -1;
    child->AddRef();
    m_Children.push_back(child);
    return static_cast<int>(m_Children.size()) - 1;
}

CiDataInterchangeBase* CiDataInterchange::GetAt(int i) const {
    if (i < 0 || i >= GetCount())
        return nullptr;
    return m_Children[static_cast<size_t>(i)];
}

CiDataInterchangeBase* CiDataInterchange::FindChild(const char* name) const {
    if (!name)
        return nullptr;
    for (CiDataInterchangeBase* child : m_Children)
        if (child->GetName() == name)
            return child;
    return nullptr;
}

CiDataInterchangeBase* CiDataInterchange::GetByPath(const char* path) const {
    if (!path)
        return nullptr;
    // The walk starts here; the node handed back is not modified by the lookup.
    CiDataInterchangeBase* node = const_cast<CiDataInterchange*>(this);
    const char* p = path;
    while (*p) {
        const char* end = std::strchr(p, '/');
        const size_t len = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (len > 0) {
            CiDataInterchange* parent = node->GetInterchange();
            if (!parent)
                return nullptr;
            node = parent->FindChild(std::string(p, len).c_str());
            if (!node)
                return nullptr;
        }
        p += len;
        if (*p == '/')
            ++p;
    }
    return node;
}

void CiDataInterchange::Attach(CiDataInterchangeBase* src) {
    if (!src || src->Reaches(this))
        return;
    CiDataInterchangeBase::Attach(src);
    CiDataInterchange* other = src->GetInterchange();
    if (!other)
        return;
    for (CiDataInterchangeBase* child : m_Children)
        if (CiDataInterchangeBase* match = other->FindChild(child->GetName()))
            child->Attach(match);
}

void CiDataInterchange::ResetRef(bool bDeep) {
    CiDataInterchangeBase::ResetRef(bDeep);
    if (bDeep)
        for (CiDataInterchangeBase* child : m_Children)
            child->ResetRef(true);
}

bool CiDataInterchange::Reaches(const CiDataInterchangeBase* target) const {
    if (CiDataInterchangeBase::Reaches(target))
        return true;
    for (const CiDataInterchangeBase* child : m_Children)
        if (child->Reaches(target))
            return true;
    return false;
}

// ---------------------------------------------------------------- CiDataParsInterchange

CiDataParsInterchange::CiDataParsInterchange(const char* name, bool bPrototype)
    : CiDataInterchangeBase(name, bPrototype) {}

int CiDataParsInterchange::Add(CBasePar* par, const char* key) {
    if (!par)
        return -1;
    m_Items.push_back(Item{par, CString(key)});
    return static_cast<int>(m_Items.size()) - 1;
}

CBasePar* CiDataParsInterchange::GetAt(int i) const {
    if (i < 0 || i >= GetCount())
        return nullptr;
    return m_Items[static_cast<size_t>(i)].par;
}

CString CiDataParsInterchange::GetKey(int i) const {
    if (i < 0 || i >= GetCount())
        return CString();
    return m_Items[static_cast<size_t>(i)].key;
}

CBasePar* CiDataParsInterchange::Find(const char* key) const {
    if (!key)
        return nullptr;
    for (const Item& item : m_Items)
        if (item.key == key)
            return item.par;
    return nullptr;
}

// ---------------------------------------------------------------- CiDataHdrsInterchange

CiDataHdrsInterchange::CiDataHdrsInterchange(const char* name, bool bPrototype)
    : CiDataInterchangeBase(name, bPrototype) {}

int CiDataHdrsInterchange::Add(CBaseHdr* hdr) {
    if (!hdr)
        return -1;
    m_Hdrs.push_back(hdr);
    return static_cast<int>(m_Hdrs.size()) - 1;
}

CBaseHdr* CiDataHdrsInterchange::operator[](int i) const {
    if (i < 0 || i >= GetCount())
        return nullptr;
    return m_Hdrs[static_cast<size_t>(i)];
}
