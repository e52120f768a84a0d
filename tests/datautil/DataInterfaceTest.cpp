#include "datautil/DataInterface.h"

#include <gtest/gtest.h>

namespace {

// A host object that keeps a reference on each of its two interchanges.
class HostObject : public CVRNiDataInterface {
public:
    explicit HostObject(bool withCurrent) {
        m_pPrototype = new CiDataInterchange("Proto", true);
        m_pPrototype->AddRef();
        if (withCurrent) {
            m_pCurrent = new CiDataInterchange("Data", false);
            m_pCurrent->AddRef();
        }
    }
    ~HostObject() override {
        if (m_pCurrent)
            m_pCurrent->Release();
        m_pPrototype->Release();
    }
    HostObject(const HostObject&) = delete;
    HostObject& operator=(const HostObject&) = delete;

    CiDataInterchange* GetDataInterchange(bool bPrototype) override {
        return bPrototype ? m_pPrototype : m_pCurrent;
    }

    CiDataInterchange* m_pPrototype = nullptr;
    CiDataInterchange* m_pCurrent = nullptr;
};

// Counts the calls that reach the virtual SetInterchange.
class CountingHost : public HostObject {
public:
    CountingHost() : HostObject(true) {}
    void SetInterchange(CiDataInterchange* src) override {
        m_nCalls++;
        m_pLastSource = src;
        HostObject::SetInterchange(src);
    }
    int m_nCalls = 0;
    CiDataInterchange* m_pLastSource = nullptr;
};

} // namespace

TEST(DataInterface, PrototypeComesFromTheDerivedClass) {
    HostObject host(true);
    EXPECT_EQ(host.GetPrototypeInterchange(), host.m_pPrototype);
}

TEST(DataInterface, SetInterchangeAttachesAndKeepsTheReferenceCount) {
    HostObject host(true);
    CiDataInterchange* src = new CiDataInterchange("Source", false);
    src->AddRef();
    const int ownBefore = host.m_pCurrent->GetRefCount();
    host.SetInterchange(src);
    EXPECT_EQ(host.m_pCurrent->GetAttached(), src);
    EXPECT_EQ(host.m_pCurrent->GetRefCount(), ownBefore);
    EXPECT_EQ(src->GetRefCount(), 2); // ours and the attachment's

    host.SetInterchange(nullptr);
    EXPECT_EQ(host.m_pCurrent->GetAttached(), nullptr);
    EXPECT_EQ(src->GetRefCount(), 1);
    src->Release();
}

TEST(DataInterface, WithoutACurrentInterchangeNothingHappens) {
    HostObject host(false);
    CiDataInterchange* src = new CiDataInterchange("Source", false);
    src->AddRef();
    host.SetInterchange(src);
    host.SetInterchange(nullptr);
    EXPECT_EQ(src->GetRefCount(), 1);
    EXPECT_EQ(host.m_pPrototype->GetAttached(), nullptr);
    src->Release();
}

TEST(DataInterface, AttachUsesTheOtherObjectsCurrentInterchange) {
    CountingHost host;
    HostObject other(true);
    const int otherBefore = other.m_pCurrent->GetRefCount();
    host.Attach(&other);
    EXPECT_EQ(host.m_nCalls, 1);
    EXPECT_EQ(host.m_pLastSource, other.m_pCurrent);
    EXPECT_EQ(host.m_pCurrent->GetAttached(), other.m_pCurrent);
    EXPECT_EQ(other.m_pCurrent->GetRefCount(), otherBefore + 1); // the attachment

    host.Attach(nullptr);
    EXPECT_EQ(host.m_nCalls, 2);
    EXPECT_EQ(host.m_pLastSource, nullptr);
    EXPECT_EQ(host.m_pCurrent->GetAttached(), nullptr);
    EXPECT_EQ(other.m_pCurrent->GetRefCount(), otherBefore);

    HostObject empty(false);
    host.Attach(&empty); // the other object has no current interchange
    EXPECT_EQ(host.m_nCalls, 3);
    EXPECT_EQ(host.m_pLastSource, nullptr);
}

namespace {

// root / "Columns" (headers: first a double header) and "Switches"
// (headers: first an int header), and a plain node "Empty".
struct Tree {
    CDblHdr col10{"0|Pressure|Pressure|Pressure|Pressure|MA_PRESSURE"};
    CDblHdr col25, col5;
    CIntHdr flags;
    CiDataInterchange* root = nullptr;
    CiDataHdrsInterchange* columns = nullptr;

    Tree() {
        for (int i = 0; i < 10; i++)
            col10.Add(i * 1.5);
        col10.SetUnitType("MA_PRESSURE");
        for (int i = 0; i < 25; i++)
            col25.Add(-i);
        col25.SetUnitType("MA_TIME");
        for (int i = 0; i < 5; i++)
            col5.Add(100.0 + i);
        flags.Add(1);
        root = new CiDataInterchange("Root", false);
        root->AddRef();
        auto add = [this](const char* name, CBaseHdr* h) {
            auto* node = new CiDataHdrsInterchange(name, false);
            node->Add(h);
            root->AddBaseItem(node);
            return node;
        };
        columns = add("Columns", &col10);
        add("Long", &col25);
        add("Short", &col5);
        add("Switches", &flags);
        root->AddBaseItem(new CiDataInterchange("Empty", false));
        root->AddBaseItem(new CiDataHdrsInterchange("NoHeaders", false));
    }
    ~Tree() { root->Release(); }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;
};

} // namespace

TEST(UpdateImportedHdr, CopiesValuesAndUnit) {
    Tree tree;
    CVRNiUpdateImportedHdr update;
    CDblHdr h;
    int maxSize = 0;
    update.UpdateHdr(h, tree.root, "Columns", maxSize);
    ASSERT_EQ(h.GetSize(), 10);
    EXPECT_EQ(h[3], 4.5);
    EXPECT_EQ(h.GetAtomString(), "MA_PRESSURE");
    EXPECT_EQ(maxSize, 10);
    // A copy, not a view: changing it leaves the source alone.
    h[0] = 99.0;
    EXPECT_EQ(tree.col10[0], 0.0);
}

TEST(UpdateImportedHdr, MaximumOnlyRises) {
    Tree tree;
    CVRNiUpdateImportedHdr update;
    CDblHdr a, b, c;
    int maxSize = 0;
    update.UpdateHdr(a, tree.root, "Columns", maxSize);
    update.UpdateHdr(b, tree.root, "Long", maxSize);
    EXPECT_EQ(maxSize, 25);
    update.UpdateHdr(c, tree.root, "Short", maxSize);
    EXPECT_EQ(maxSize, 25);
    EXPECT_EQ(c.GetSize(), 5);
    EXPECT_EQ(b.GetAtomString(), "MA_TIME");
}

TEST(UpdateImportedHdr, MissingOrUnsuitableSourcesChangeNothing) {
    Tree tree;
    CVRNiUpdateImportedHdr update;
    CDblHdr h;
    h.Add(7.0);
    h.SetUnitType("MA_NULL");
    int maxSize = 3;
    for (const char* path : {"Nowhere", "Empty", "Switches", "NoHeaders", "Columns/Deeper"}) {
        update.UpdateHdr(h, tree.root, path, maxSize);
        ASSERT_EQ(h.GetSize(), 1) << path;
        EXPECT_EQ(h[0], 7.0) << path;
        EXPECT_EQ(h.GetAtomString(), "MA_NULL") << path;
        EXPECT_EQ(maxSize, 3) << path;
    }
    update.UpdateHdr(h, nullptr, "Columns", maxSize);
    EXPECT_EQ(h.GetSize(), 1);
    EXPECT_EQ(maxSize, 3);
}
