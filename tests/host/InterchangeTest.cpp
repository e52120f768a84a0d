#include "host/data/Interchange.h"
#include "host/data/DataHeaders.h"
#include "host/data/Parameters.h"

#include <gtest/gtest.h>

// A small tree as a front end would build it: root / engine / parameters.
namespace {

struct Switches {
    CIntPar a{"0|m_bGradientFlag|m_bGradientFlag|m_bGradientFlag|m_bGradientFlag|MA_NULL", 0};
    CIntPar b{"0|Check Gradient", 1};
};

CiDataInterchange* BuildTree(Switches& s) {
    auto* root = new CiDataInterchange("Tool", false);
    auto* engine = new CiDataInterchange("Engine", false);
    auto* pars = new CiDataParsInterchange("EnginePars", false);
    engine->AddBaseItem(pars);
    pars->Add(s.a.GetBasePar(), s.a.GetName());
    pars->Add(s.b.GetBasePar(), s.b.GetName());
    root->AddBaseItem(engine);
    return root;
}

} // namespace

TEST(MacroRef, CountsAndDeletesOnLastRelease) {
    auto* node = new CiDataInterchange("n", false);
    EXPECT_EQ(node->GetRefCount(), 0);
    EXPECT_EQ(node->AddRef(), 1);
    EXPECT_EQ(node->AddRef(), 2);
    EXPECT_EQ(node->Release(), 1);
    EXPECT_EQ(node->Release(), 0); // deleted here; the leak checker sees it
}

TEST(MacroRef, UnheldNodeIsFreedBySingleRelease) {
    Switches s;
    CiDataInterchange* root = BuildTree(s);
    EXPECT_EQ(root->GetRefCount(), 0);
    EXPECT_EQ(root->GetAt(0)->GetRefCount(), 1);
    root->Release(); // frees the whole tree
}

TEST(Interchange, AddBaseItemTakesAReference) {
    auto* parent = new CiDataInterchange("p", false);
    auto* child = new CiDataInterchange("c", false);
    child->AddRef();
    EXPECT_EQ(parent->AddBaseItem(child), 0);
    EXPECT_EQ(child->GetRefCount(), 2);
    EXPECT_EQ(parent->AddBaseItem(nullptr), -1);
    parent->Release();
    EXPECT_EQ(child->GetRefCount(), 1); // still alive: our reference
    EXPECT_EQ(child->GetName(), "c");
    child->Release();
}

TEST(Interchange, CyclesAreRefused) {
    CRefHolder<CiDataInterchange> a(new CiDataInterchange("a", false));
    auto* b = new CiDataInterchange("b", false);
    a->AddBaseItem(b);
    EXPECT_EQ(a->AddBaseItem(a.get()), -1);
    EXPECT_EQ(b->AddBaseItem(a.get()), -1);
    EXPECT_EQ(a->GetRefCount(), 1);
    b->Attach(a.get()); // b is under a: attaching it to a would close a loop
    EXPECT_EQ(b->GetAttached(), nullptr);
}

TEST(Interchange, GetByPath) {
    Switches s;
    CRefHolder<CiDataInterchange> root(BuildTree(s));
    EXPECT_EQ(root->GetByPath(""), root.get());
    ASSERT_NE(root->GetByPath("Engine"), nullptr);
    EXPECT_EQ(root->GetByPath("Engine")->GetName(), "Engine");
    CiDataInterchangeBase* pars = root->GetByPath("Engine/EnginePars");
    ASSERT_NE(pars, nullptr);
    EXPECT_EQ(pars->GetName(), "EnginePars");
    EXPECT_EQ(root->GetByPath("/Engine//EnginePars/"), pars);
    EXPECT_EQ(root->GetByPath("Engine/Missing"), nullptr);
    EXPECT_EQ(root->GetByPath("Engine/EnginePars/deeper"), nullptr);
    EXPECT_EQ(root->GetByPath("Tool"), nullptr); // relative to the node itself
    EXPECT_EQ(root->GetByPath(nullptr), nullptr);
}

TEST(Interchange, ParameterNodeListsLiveParametersInOrder) {
    Switches s;
    CRefHolder<CiDataInterchange> root(BuildTree(s));
    CiDataParsInterchange* pars = root->GetByPath("Engine/EnginePars")->GetParsInterchange();
    ASSERT_NE(pars, nullptr);
    ASSERT_EQ(pars->GetCount(), 2);
    EXPECT_EQ(pars->GetKey(0), "m_bGradientFlag");
    EXPECT_EQ(pars->GetKey(1), "Check Gradient");
    EXPECT_EQ(pars->GetAt(0), s.a.GetBasePar());
    EXPECT_EQ(pars->GetAt(2), nullptr);
    EXPECT_EQ(pars->GetKey(-1), "");
    // Writing through the tree changes the member itself.
    pars->Find("Check Gradient")->SetDouble(0.0);
    EXPECT_TRUE(!s.b);
    EXPECT_EQ(pars->Find("nothing"), nullptr);
    EXPECT_EQ(pars->Add(nullptr, "x"), -1);
    EXPECT_EQ(root->GetHdrsInterchange(), nullptr);
}

TEST(Interchange, TwoTreesOverTheSameParametersAreIndependent) {
    Switches s;
    CiDataInterchange* t1 = BuildTree(s);
    CiDataInterchange* t2 = BuildTree(s);
    EXPECT_NE(t1->GetByPath("Engine"), t2->GetByPath("Engine"));
    t1->Release();
    EXPECT_EQ(t2->GetByPath("Engine/EnginePars")->GetParsInterchange()->GetAt(1), s.b.GetBasePar());
    t2->Release();
}

TEST(Interchange, HeaderNodeGivesDoubleHeaders) {
    CDblHdr d("0|Pressure|Pressure|Pressure|Pressure|UNIT_PSI");
    d.Add(1.0);
    CIntHdr i;
    CRefHolder<CiDataInterchange> root(new CiDataInterchange("root", false));
    auto* hdrs = new CiDataHdrsInterchange("Columns", false);
    root->AddBaseItem(hdrs);
    EXPECT_EQ(hdrs->Add(&d), 0);
    EXPECT_EQ(hdrs->Add(&i), 1);
    EXPECT_EQ(hdrs->Add(nullptr), -1);

    CiDataHdrsInterchange* found = root->GetByPath("Columns")->GetHdrsInterchange();
    ASSERT_EQ(found, hdrs);
    CiDataHdrsInterchange* converted = *root->GetByPath("Columns");
    EXPECT_EQ(converted, hdrs);
    EXPECT_EQ((*found)[0]->GetDblHdr(), &d);
    EXPECT_EQ((*found)[0]->GetDblHdr()->GetAtomString(), "UNIT_PSI");
    EXPECT_EQ((*found)[1]->GetDblHdr(), nullptr);
    EXPECT_EQ((*found)[2], nullptr);
    EXPECT_EQ((*found)[-1], nullptr);
}

TEST(Interchange, AttachAndResetRefKeepCountsBalanced) {
    CRefHolder<CiDataInterchange> own(new CiDataInterchange("own", false));
    CRefHolder<CiDataInterchange> src(new CiDataInterchange("src", false));
    auto* ownChild = new CiDataInterchange("child", false);
    auto* srcChild = new CiDataInterchange("child", false);
    own->AddBaseItem(ownChild);
    src->AddBaseItem(srcChild);
    EXPECT_EQ(src->GetRefCount(), 1);

    own->Attach(src.get());
    EXPECT_EQ(own->GetAttached(), src.get());
    EXPECT_EQ(src->GetRefCount(), 2);
    EXPECT_EQ(ownChild->GetAttached(), srcChild); // children matched by name
    EXPECT_EQ(srcChild->GetRefCount(), 2);

    own->Attach(src.get()); // again: no extra reference
    EXPECT_EQ(src->GetRefCount(), 2);

    own->ResetRef(false);
    EXPECT_EQ(own->GetAttached(), nullptr);
    EXPECT_EQ(src->GetRefCount(), 1);
    EXPECT_EQ(ownChild->GetAttached(), srcChild); // shallow reset
    own->ResetRef(true);
    EXPECT_EQ(ownChild->GetAttached(), nullptr);
    EXPECT_EQ(srcChild->GetRefCount(), 1);

    own->Attach(nullptr);
    own->Attach(own.get());
    EXPECT_EQ(own->GetAttached(), nullptr);
    EXPECT_EQ(own->GetRefCount(), 1);
}

TEST(Interchange, AttachedSourceOutlivesItsOtherHolders) {
    CRefHolder<CiDataInterchange> own(new CiDataInterchange("own", false));
    auto* src = new CiDataInterchange("src", false);
    src->AddRef();
    own->Attach(src);
    src->Release(); // our reference gone; own still holds one
    ASSERT_NE(own->GetAttached(), nullptr);
    EXPECT_EQ(own->GetAttached()->GetName(), "src");
}
