// Interchange trees listing the user options of the engine and of the tool.
#include "host/data/Interchange.h"

#include "tool/MinimizerTool.h"

CiDataInterchange* CVRNUnconstrainedMinimization::GetInterchange() {
    auto* node = new CiDataInterchange("CVRNUnconstrainedMinimization", false);
    auto* pars = new CiDataParsInterchange("CVRNUnconstrainedMinimizationParIC", false);
    node->AddBaseItem(pars);
    CIntPar* list[] = {&m_bGradientFlag, &m_bHessianFlag, &m_bExpensiveFxFlag, &m_bCheckGradient,
                       &m_bCheckHessian};
    for (CIntPar* par : list) {
        const CString name = par->GetName();
        pars->Add(par->GetBasePar(), name);
    }
    return node;
}

CiDataInterchange* VRNMinimizerTool::GetInterchange() {
    auto* node = new CiDataInterchange("CVRNBranticUnconstrainedMinimizer", false);
    node->AddBaseItem(m_Minimizer.GetInterchange());
    auto* pars = new CiDataParsInterchange("CVRNBranticUnconstrainedMinimizerParIC", false);
    node->AddBaseItem(pars);
    CIntPar* list[] = {&m_bExpensive, &m_bUserGradient, &m_bUserHessian};
    for (CIntPar* par : list) {
        const CString name = par->GetName();
        pars->Add(par->GetBasePar(), name);
    }
    return node;
}
