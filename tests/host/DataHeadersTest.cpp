#include "host/data/DataHeaders.h"
#include "host/data/Descriptor.h"
#include "host/data/Parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

// ------------------------------------------------------------------ descriptors

TEST(Descriptor, NameIsTheFieldAfterTheLeadingNumber) {
    EXPECT_EQ(VRNDescriptorName("0|m_ErrorHistory|m_ErrorHistory|m_ErrorHistory|m_ErrorHistory|MA_NULL"),
              "m_ErrorHistory");
    EXPECT_EQ(VRNDescriptorName("0|x{\\sub 0}"), "x{\\sub 0}");
    EXPECT_EQ(VRNDescriptorName("0|Check Gradient"), "Check Gradient");
    EXPECT_EQ(VRNDescriptorName("0|Gradient3|Gradient3|Gradient3|Gradient3|MA_NULL"), "Gradient3");
    EXPECT_EQ(VRNDescriptorName("12|fxn Expensive to Calculate|a|b|c|MA_NULL"), "fxn Expensive to Calculate");
}

TEST(Descriptor, DegenerateForms) {
    EXPECT_EQ(VRNDescriptorName(nullptr), "");
    EXPECT_EQ(VRNDescriptorName(""), "");
    EXPECT_EQ(VRNDescriptorName("Plain"), "Plain");
    EXPECT_EQ(VRNDescriptorName("0"), "0");
    EXPECT_EQ(VRNDescriptorName("0|"), "");
    EXPECT_EQ(VRNDescriptorName("name|other"), "name");
}

TEST(Descriptor, UnitIsTheTrailingFieldOfTheLongForm) {
    EXPECT_EQ(VRNDescriptorUnit("0|m_ErrorHistory|m_ErrorHistory|m_ErrorHistory|m_ErrorHistory|MA_NULL"),
              "MA_NULL");
    EXPECT_EQ(VRNDescriptorUnit("0|Check Gradient"), "");
}

// ------------------------------------------------------------------ CDblHdr

TEST(DblHdr, InitGivesMonikerAndUnit) {
    CDblHdr h;
    h.Init("0|m_ErrorHistory|m_ErrorHistory|m_ErrorHistory|m_ErrorHistory|MA_NULL");
    EXPECT_EQ(h.GetMoniker(), "m_ErrorHistory");
    EXPECT_EQ(h.GetAtomString(), "MA_NULL");
    h.SetUnitType("UNIT_PSI");
    EXPECT_EQ(h.GetAtomString(), "UNIT_PSI");
    CBaseHdr* base = &h;
    EXPECT_EQ(base->GetMoniker(), "m_ErrorHistory");
    EXPECT_EQ(base->GetDblHdr(), &h);
    EXPECT_EQ(base->GetDblArray()->data(), static_cast<double*>(h));
}

TEST(DblHdr, SetSizeAddAndAccess) {
    CDblHdr h;
    EXPECT_EQ(h.GetSize(), 0);
    h.SetSize(3);
    EXPECT_EQ(h.GetSize(), 3);
    EXPECT_EQ(h[2], 0.0);
    h[1] = 5.0;
    double* p = h;
    EXPECT_EQ(p[1], 5.0);
    EXPECT_EQ(h.Add(7.5), 3);
    EXPECT_EQ(h.GetSize(), 4);
    EXPECT_EQ(h[3], 7.5);
    h.SetSize(-3, -1);
    EXPECT_EQ(h.GetSize(), 0);
}

TEST(DblHdr, GrowthStepKeepsPointerStableWithinTheStep) {
    CDblHdr h;
    h.SetSize(0, 100);
    h.Add(1.0);
    const double* p = h;
    for (int i = 1; i < 100; ++i)
        h.Add(i);
    EXPECT_EQ(static_cast<const double*>(h), p);
    EXPECT_EQ(h.GetSize(), 100);
    h.Add(100.0);
    EXPECT_EQ(h[100], 100.0);
    EXPECT_EQ(h.GetDblArray()->capacity(), 200u);
}

TEST(DblHdr, CopyConstructionIsIndependent) {
    CDblHdr a("0|a|a|a|a|MA_NULL");
    a.Add(1);
    a.Add(2);
    CDblHdr b(a);
    b[0] = 10;
    EXPECT_EQ(a[0], 1.0);
    EXPECT_EQ(b.GetMoniker(), "a");
    EXPECT_FALSE(b.SharesValuesWith(a));
}

TEST(DblHdr, AssignmentCopiesValuesOnly) {
    CDblHdr a("0|a|a|a|a|MA_NULL");
    a.SetUnitType("U1");
    a.Add(1);
    a.Add(2);
    CDblHdr b("0|b|b|b|b|MA_NULL");
    b.SetUnitType("U2");
    b = a;
    EXPECT_EQ(b.GetSize(), 2);
    EXPECT_EQ(b[1], 2.0);
    EXPECT_EQ(b.GetMoniker(), "b");
    EXPECT_EQ(b.GetAtomString(), "U2");
    b[1] = 9;
    EXPECT_EQ(a[1], 2.0);
    b = b;
    EXPECT_EQ(b.GetSize(), 2);
}

TEST(DblHdr, AttachSharesValuesWithoutCopying) {
    CDblHdr owner;
    owner.Add(1);
    owner.Add(2);
    CDblHdr view;
    view.Add(99);
    view.Attach(owner);
    EXPECT_TRUE(view.SharesValuesWith(owner));
    EXPECT_EQ(static_cast<double*>(view), static_cast<double*>(owner));
    EXPECT_EQ(view.GetSize(), 2);
    owner[0] = 5;
    EXPECT_EQ(view[0], 5.0);
    view[1] = 6;
    EXPECT_EQ(owner[1], 6.0);
}

TEST(DblHdr, AttachedHeaderFollowsResizeAndOutlivesOwner) {
    CDblHdr view;
    {
        auto owner = std::make_unique<CDblHdr>();
        owner->SetSize(2);
        view.Attach(*owner);
        owner->SetSize(1000);
        (*owner)[999] = 3.0;
        EXPECT_EQ(view.GetSize(), 1000);
        EXPECT_EQ(view[999], 3.0);
    }
    // The owner is gone; the values live on in the attached header.
    EXPECT_EQ(view.GetSize(), 1000);
    EXPECT_EQ(view[999], 3.0);
    view.Add(4.0);
    EXPECT_EQ(view.GetSize(), 1001);
}

TEST(DblHdr, DetachMakesAPrivateCopy) {
    CDblHdr owner;
    owner.Add(1);
    CDblHdr view;
    view.Attach(owner);
    view.Detach();
    view[0] = 2;
    EXPECT_EQ(owner[0], 1.0);
    EXPECT_FALSE(view.SharesValuesWith(owner));
}

// ------------------------------------------------------------------ CIntHdr

TEST(IntHdr, CopyAssignAndRawAccess) {
    CIntHdr a;
    a.SetSize(3);
    for (int i = 0; i < 3; ++i)
        a[i] = 10 * (i + 1);
    CIntHdr b;
    b.Copy(a);
    EXPECT_EQ(b.GetSize(), 3);
    EXPECT_EQ(b[2], 30);
    b[2] = 7;
    EXPECT_EQ(a[2], 30);
    CIntHdr c;
    c = a;
    int* p = c;
    EXPECT_EQ(p[0], 10);
    EXPECT_EQ(c.Add(40), 3);
    c.SetSize(-1);
    EXPECT_EQ(c.GetSize(), 0);
    CBaseHdr* base = &a;
    EXPECT_EQ(base->GetDblHdr(), nullptr);
    EXPECT_EQ(base->GetDblArray(), nullptr);
    EXPECT_EQ(base->GetIntHdr(), &a);
}

// ------------------------------------------------------------------ parameters

TEST(IntPar, SwitchSemantics) {
    CIntPar p;
    p.Init("0|Check Gradient");
    EXPECT_EQ(p.GetName(), "Check Gradient");
    EXPECT_FALSE(static_cast<bool>(p));
    EXPECT_TRUE(!p);
    EXPECT_TRUE(p == 0);
    p = 2;
    EXPECT_TRUE(static_cast<bool>(p));
    EXPECT_FALSE(!p);
    EXPECT_TRUE(p && true);
    EXPECT_FALSE(p && false);
    EXPECT_TRUE(p == 2);
    EXPECT_FALSE(p == 1);
    int v = p;
    EXPECT_EQ(v, 2);
    if (p) {
        SUCCEED();
    } else {
        ADD_FAILURE() << "non-zero switch tested false";
    }
}

TEST(IntPar, AssignmentFromAnotherKeepsTheName) {
    CIntPar a("0|m_bGradientFlag|m_bGradientFlag|m_bGradientFlag|m_bGradientFlag|MA_NULL", 1);
    CIntPar b(
        "0|User Defined Gradient|User Defined Gradient|User Defined Gradient|User Defined Gradient|MA_NULL",
        0);
    EXPECT_EQ(a.GetName(), "m_bGradientFlag");
    b = a;
    EXPECT_TRUE(b == 1);
    EXPECT_EQ(b.GetName(), "User Defined Gradient");
    CIntPar c(a);
    EXPECT_EQ(c.GetName(), "m_bGradientFlag");
}

TEST(IntPar, BaseParameterHandle) {
    CIntPar p("0|Track|Track|Track|Track|MA_NULL", 1);
    CBasePar* base = p.GetBasePar();
    EXPECT_EQ(base, static_cast<CBasePar*>(&p));
    EXPECT_EQ(base->GetName(), "Track");
    EXPECT_EQ(base->GetDouble(), 1.0);
    base->SetDouble(0.0);
    EXPECT_TRUE(!p);
    base->SetDouble(1e300);
    EXPECT_GT(p.GetValue(), 0);
    base->SetDouble(std::nan(""));
    EXPECT_TRUE(p == 0);
}

TEST(SynPar, DoubleValue) {
    CSynPar c;
    c.Init("0|c{\\sub 0}");
    EXPECT_EQ(c.GetName(), "c{\\sub 0}");
    c = 2.5;
    double v = c;
    EXPECT_EQ(v, 2.5);
    EXPECT_EQ(c.GetBasePar()->GetDouble(), 2.5);
    CSynPar d("0|d", 1.0);
    d = c;
    EXPECT_EQ(d.GetValue(), 2.5);
    EXPECT_EQ(d.GetName(), "d");
}
