#pragma once

// Root object with run-time class information.
//
// Every framework class that the library or a host needs to recognise at run
// time declares itself with DECLARE_DYNAMIC (class information only) or
// DECLARE_DYNCREATE (class information plus creation by class, as document
// templates create views), and defines it with the matching IMPLEMENT_ macro
// in its source file:
//
//     class CMyView : public CView {
//         DECLARE_DYNCREATE(CMyView)
//         ...
//     };
//     IMPLEMENT_DYNCREATE(CMyView, CView)      // in CMyView.cpp
//
//     if (pView->IsKindOf(RUNTIME_CLASS(CMyView))) ...
//     CObject* p = RUNTIME_CLASS(CMyView)->CreateObject();
//     CObject* q = CMyView::CreateObject();
//
// A class without a declaration of its own reports the run-time class of its
// nearest declared base.

class CObject;

struct CRuntimeClass {
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;
    CObject* (*m_pfnCreateObject)(); // null for classes that cannot be created by class

    // A new object of this class, or null when the class does not support creation by class.
    CObject* CreateObject() const;
    // True when this class is pBase or derives from it.
    bool IsDerivedFrom(const CRuntimeClass* pBase) const;
};

class CObject {
public:
    virtual ~CObject() = default;

    virtual const CRuntimeClass* GetRuntimeClass() const;
    static const CRuntimeClass* GetThisClass();

    // True when the object's run-time class is pClass or derives from it.
    bool IsKindOf(const CRuntimeClass* pClass) const;

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};

#define RUNTIME_CLASS(class_name) (class_name::GetThisClass())

#define DECLARE_DYNAMIC(class_name)                                                                          \
public:                                                                                                      \
    static const CRuntimeClass* GetThisClass();                                                              \
    const CRuntimeClass* GetRuntimeClass() const override;                                                   \
                                                                                                             \
private:

#define DECLARE_DYNCREATE(class_name)                                                                        \
public:                                                                                                      \
    static const CRuntimeClass* GetThisClass();                                                              \
    const CRuntimeClass* GetRuntimeClass() const override;                                                   \
    static CObject* CreateObject();                                                                          \
                                                                                                             \
private:

#define VRN_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, pfnNew)                                      \
    const CRuntimeClass* class_name::GetThisClass() {                                                        \
        static const CRuntimeClass rc{#class_name, RUNTIME_CLASS(base_class_name), pfnNew};                  \
        return &rc;                                                                                          \
    }                                                                                                        \
    const CRuntimeClass* class_name::GetRuntimeClass() const {                                               \
        return class_name::GetThisClass();                                                                   \
    }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                                       \
    VRN_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                                                     \
    CObject* class_name::CreateObject() {                                                                    \
        return new class_name;                                                                               \
    }                                                                                                        \
    VRN_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, &class_name::CreateObject)
