// Fuzz target: descriptor strings of the data headers and parameters, the names
// they give, the "{\sub ...}" mark-up of the labels, and interchange paths.
//
// Input: a descriptor on the first line, an interchange path on the second. The
// descriptor initialises double and int headers and parameters; the names they
// report must be fields of the descriptor. A tree of interchange nodes named
// after the fields is then searched by the path and by the joined names, attached
// to a second tree and released. A failed property or a sanitizer report is a
// finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/data/DataHeaders.h"
#include "host/data/Descriptor.h"
#include "host/data/Interchange.h"
#include "host/data/Parameters.h"
#include "host/grid/GridDataSource.h"

namespace {

void Require(bool ok) {
    if (!ok)
        std::abort();
}

std::vector<std::string> Fields(const std::string& descriptor) {
    std::vector<std::string> fields(1);
    for (const char c : descriptor) {
        if (c == '|')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

bool IsField(const std::vector<std::string>& fields, const CString& s) {
    for (const std::string& f : fields)
        if (f == s.Str())
            return true;
    return false;
}

// root -> f0 -> f1 -> ... (one chain), plus a parameter node and a header node.
CiDataInterchange* BuildTree(const std::vector<std::string>& names, CBasePar* par, CBaseHdr* hdr) {
    auto* root = new CiDataInterchange("root", false);
    CiDataInterchange* parent = root;
    for (const std::string& name : names) {
        auto* child = new CiDataInterchange(name.c_str(), false);
        if (parent->AddBaseItem(child) < 0) {
            child->Release();
            break;
        }
        parent = child;
    }
    auto* pars = new CiDataParsInterchange("pars", false);
    pars->Add(par, par->GetName());
    root->AddBaseItem(pars);
    auto* hdrs = new CiDataHdrsInterchange("hdrs", false);
    hdrs->Add(hdr);
    root->AddBaseItem(hdrs);
    return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096)
        return -1;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t newline = text.find('\n');
    // Descriptors and paths are C strings: the text ends at the first NUL.
    const std::string descriptor = text.substr(0, newline).c_str();
    const std::string path = newline == std::string::npos ? std::string() : text.substr(newline + 1).c_str();
    const std::vector<std::string> fields = Fields(descriptor);

    CDblHdr d(descriptor.c_str());
    CIntHdr i(descriptor.c_str());
    CIntPar ip(descriptor.c_str(), 1);
    CSynPar sp(descriptor.c_str(), 1.0);
    Require(IsField(fields, d.GetMoniker()));
    Require(d.GetMoniker() == i.GetMoniker() && d.GetMoniker() == ip.GetName() &&
            d.GetMoniker() == sp.GetName());
    Require(d.GetAtomString().IsEmpty() || d.GetAtomString().Str() == fields.back());
    Require(VRNDescriptorName(descriptor.c_str()) == d.GetMoniker());
    Require(VRNDescriptorUnit(descriptor.c_str()) == d.GetAtomString());
    Require(d.GetDescriptor() == descriptor.c_str());

    // The plain label drops mark-up and never grows beyond the text.
    const CString plain = KelPlainLabel(d.GetMoniker());
    Require(plain.GetLength() <= d.GetMoniker().GetLength());
    (void)KelPlainLabel(descriptor.c_str());

    // Interchange: the chain of fields is found again by its joined names when
    // no name holds a '/' and none is empty.
    CiDataInterchange* a = BuildTree(fields, &ip, &d);
    CiDataInterchange* b = BuildTree(Fields(path), &sp, &i);
    a->AddRef();
    b->AddRef();
    std::string joined;
    bool plainNames = true;
    for (const std::string& f : fields) {
        plainNames = plainNames && !f.empty() && f.find('/') == std::string::npos;
        joined += (joined.empty() ? "" : "/") + f;
    }
    CiDataInterchangeBase* found = a->GetByPath(joined.c_str());
    Require(found != nullptr || !plainNames);
    if (plainNames)
        Require(found->GetName() == fields.back().c_str());
    (void)a->GetByPath(path.c_str());
    (void)b->GetByPath(descriptor.c_str());
    if (CiDataInterchangeBase* node = a->GetByPath("pars"))
        if (CiDataParsInterchange* pars = node->GetParsInterchange())
            Require(pars->Find(ip.GetName()) == &ip);

    a->Attach(b);
    b->Attach(a); // refused: it would close a cycle
    a->ResetRef(true);
    b->Attach(a);
    a->Release();
    b->Release();
    return 0;
}
