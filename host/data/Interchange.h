#pragma once

#include "host/framework/String.h"

#include <utility>
#include <vector>

class CBaseHdr;
class CBasePar;
class CiDataInterchange;
class CiDataParsInterchange;
class CiDataHdrsInterchange;

// Intrusive reference count.
//
// An object starts with count 0 (nobody holds it yet). AddRef() takes a
// reference; Release() gives one back and deletes the object when the count
// drops from 1 to 0. Release() on an object nobody holds (count 0) deletes it
// too, so whoever receives a freshly built, unreferenced object can free it
// with a single Release(). Objects must be created with new.
class CMacroRef {
public:
    CMacroRef() = default;
    CMacroRef(const CMacroRef&) = delete;
    CMacroRef& operator=(const CMacroRef&) = delete;

    int AddRef() { return ++m_nRef; }
    int Release();
    int GetRefCount() const { return m_nRef; }

protected:
    virtual ~CMacroRef() = default;

private:
    int m_nRef = 0;
};

// Holds one reference to a CMacroRef object for its lifetime.
template <class T> class CRefHolder {
public:
    CRefHolder() = default;
    explicit CRefHolder(T* p) : m_p(p) {
        if (m_p)
            m_p->AddRef();
    }
    CRefHolder(const CRefHolder& o) : CRefHolder(o.m_p) {}
    CRefHolder& operator=(const CRefHolder& o) {
        CRefHolder tmp(o);
        std::swap(m_p, tmp.m_p);
        return *this;
    }
    ~CRefHolder() {
        if (m_p)
            m_p->Release();
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// A named node of the interchange tree.
//
// Ownership: nodes are reference counted (CMacroRef). A parent holds one
// reference on each child; an attached node holds one reference on the node it
// is attached to. A tree returned to a caller belongs to the caller, who frees
// it with Release() on the root (after an AddRef() of its own if it keeps the
// tree while others take and release references). Parameters and headers that
// nodes list are borrowed: the tree never frees them and must not outlive them.
// Links that would close a cycle (a node under itself, or attached to a node
// that already reaches it) are refused, so trees are always freed completely.
class CiDataInterchangeBase : public CMacroRef {
public:
    CiDataInterchangeBase(const char* name, bool bPrototype);

    const CString& GetName() const { return m_Name; }
    bool IsPrototype() const { return m_bPrototype; }

    // Makes this node refer to src (replacing any earlier source); a node with
    // children also attaches each child to the same-named child of src. Null,
    // this node itself, or a source that already reaches this node are ignored.
    virtual void Attach(CiDataInterchangeBase* src);
    // Drops the reference to the attached source; with bDeep the children's too.
    virtual void ResetRef(bool bDeep);
    CiDataInterchangeBase* GetAttached() const { return m_pAttached; }

    // Conversions to the concrete node kinds; null when the node is another kind.
    virtual CiDataInterchange* GetInterchange() { return nullptr; }
    virtual CiDataParsInterchange* GetParsInterchange() { return nullptr; }
    virtual CiDataHdrsInterchange* GetHdrsInterchange() { return nullptr; }
    operator CiDataHdrsInterchange*() { return GetHdrsInterchange(); }

    // True when target is this node or lies below it through children or
    // attachments.
    virtual bool Reaches(const CiDataInterchangeBase* target) const;

protected:
    ~CiDataInterchangeBase() override;

private:
    CString m_Name;
    bool m_bPrototype;
    CiDataInterchangeBase* m_pAttached = nullptr;
};

// A node with child nodes.
class CiDataInterchange : public CiDataInterchangeBase {
public:
    CiDataInterchange(const char* name, bool bPrototype);

    // Hangs child under this node, taking a reference on it. Returns the
    // child's index, or -1 (and takes nothing) for null or a child that would
    // close a cycle.
    int AddBaseItem(CiDataInterchangeBase* child);
    int GetCount() const { return static_cast<int>(m_Children.size()); }
    // Child i, or null out of range.
    CiDataInterchangeBase* GetAt(int i) const;
    // First child with that name, or null.
    CiDataInterchangeBase* FindChild(const char* name) const;

    // The node at path, relative to this node. A path is a list of child names
    // joined by "/": "CVRNBranticUnconstrainedMinimizer/CVRNUnconstrainedMinimization"
    // walks to a child and then to its child. At each step the first child
    // with that exact name is taken. Empty segments (leading, trailing or
    // doubled slashes) are skipped; an empty path gives this node. Returns null
    // for a null path, or when a segment names no child (only CiDataInterchange
    // nodes have children).
    CiDataInterchangeBase* GetByPath(const char* path) const;

    void Attach(CiDataInterchangeBase* src) override;
    void ResetRef(bool bDeep) override;
    CiDataInterchange* GetInterchange() override { return this; }
    bool Reaches(const CiDataInterchangeBase* target) const override;

protected:
    ~CiDataInterchange() override;

private:
    std::vector<CiDataInterchangeBase*> m_Children;
};

// A node listing parameters under keys, in the order they were added. The
// parameters are live and borrowed.
class CiDataParsInterchange : public CiDataInterchangeBase {
public:
    CiDataParsInterchange(const char* name, bool bPrototype);

    // Registers par under key; returns its index, or -1 for a null par.
    int Add(CBasePar* par, const char* key);
    int GetCount() const { return static_cast<int>(m_Items.size()); }
    // Parameter i, or null out of range.
    CBasePar* GetAt(int i) const;
    // Key i, or an empty string out of range.
    CString GetKey(int i) const;
    // First parameter registered under key, or null.
    CBasePar* Find(const char* key) const;

    CiDataParsInterchange* GetParsInterchange() override { return this; }

private:
    struct Item {
        CBasePar* par;
        CString key;
    };
    std::vector<Item> m_Items;
};

// A node listing headers (borrowed), in the order they were added.
class CiDataHdrsInterchange : public CiDataInterchangeBase {
public:
    CiDataHdrsInterchange(const char* name, bool bPrototype);

    // Adds hdr; returns its index, or -1 for null.
    int Add(CBaseHdr* hdr);
    int GetCount() const { return static_cast<int>(m_Hdrs.size()); }
    // Header i, or null out of range.
    CBaseHdr* operator[](int i) const;
    CBaseHdr* GetAt(int i) const { return (*this)[i]; }

    CiDataHdrsInterchange* GetHdrsInterchange() override { return this; }

private:
    std::vector<CBaseHdr*> m_Hdrs;
};
